// A patch description the builder's tests expect to be good: parsed as
// "test.patch", each diagnostic a failure of the calling test.
#ifndef TESTS_SUPPORT_GOOD_DESCRIPTION_H
#define TESTS_SUPPORT_GOOD_DESCRIPTION_H

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "description.h"

inline patchbuild::Description ParseGoodDescription(const std::string &text) {
    patchbuild::Description d;
    std::vector<patchbuild::Diagnostic> diagnostics;
    patchbuild::ParseDescription(text, "test.patch", d, diagnostics);
    for (const patchbuild::Diagnostic &diag : diagnostics) ADD_FAILURE() << diag.Text();
    return d;
}

#endif
