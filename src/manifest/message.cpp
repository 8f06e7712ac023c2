// Message boxes with texts from the manifest.
#include "manifest/manifest.h"

int ShowMessage(HWND owner, UINT textId, UINT captionId, UINT type)
{
    char text[256];
    char caption[256];
    LoadManifestString(textId, text, sizeof(text));
    LoadManifestString(captionId, caption, sizeof(caption));
    return MessageBoxA(owner, text, caption, type);
}
