// Runs a test with the program's texts in UTF-8, as on systems where the
// program chooses UTF-8 as its code page; the mode before comes back after.
#pragma once

#include "base/text_copy.h"

class Utf8Texts {
public:
    explicit Utf8Texts(bool on = true) : before_(TextsUtf8()) { SetTextsUtf8(on); }
    ~Utf8Texts() { SetTextsUtf8(before_); }
    Utf8Texts(const Utf8Texts&) = delete;
    Utf8Texts& operator=(const Utf8Texts&) = delete;

private:
    bool before_;
};
