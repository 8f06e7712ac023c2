// Message boxes with texts from the manifest.
#include "manifest/manifest.h"

// The box: `text`, under the manifest's caption `captionId`.
static int ShowText(HWND owner, LPCSTR text, UINT captionId, UINT type)
{
    char caption[MESSAGE_CAPACITY];
    LoadManifestString(captionId, caption, sizeof(caption));
    return MessageBoxA(owner, text, caption, type);
}

int ShowMessage(HWND owner, UINT textId, UINT captionId, UINT type)
{
    char text[MESSAGE_CAPACITY];
    LoadManifestString(textId, text, sizeof(text));
    return ShowText(owner, text, captionId, type);
}

int ShowFormattedMessage(HWND owner, UINT formatId, UINT captionId, UINT type, LPCSTR first, LPCSTR second)
{
    // Formatted in a buffer that holds whatever wsprintfA can write (1024
    // characters), then cut to the 511 the message may have.
    char format[FORMAT_CAPACITY];
    char message[1025];
    LoadManifestString(formatId, format, sizeof(format));
    wsprintfA(message, format, first, second);
    // Cut at the last character boundary within 511 bytes, so no half of a
    // double-byte character is left at the end.
    LPSTR end = message;
    while (*end != '\0' && CharNextA(end) - message <= 511)
        end = CharNextA(end);
    *end = '\0';
    return ShowText(owner, message, captionId, type);
}
