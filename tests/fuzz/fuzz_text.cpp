// Fuzz target: the encoding of any bytes, and cuts of any text into buffers
// of every small size in both modes of the program's texts. The first byte
// chooses the mode and the size. A cut is always a beginning of the text
// and never runs past its buffer; in UTF-8 a cut of valid UTF-8 stays valid.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/status_text.h"
#include "base/text_copy.h"
#include "base/text_encoding.h"
#include "setup/profile.h"

namespace {
bool Valid(const char* text) {
    return IsValidUtf8(reinterpret_cast<const unsigned char*>(text), std::strlen(text));
}

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// The buffer's text is a beginning of `whole`, and valid where `whole` is.
void CheckCut(const std::vector<char>& out, int size, const std::string& whole, bool utf8, bool valid) {
    Check(out[static_cast<size_t>(size)] == '\x7f');
    if (size == 0) return;
    const size_t length = std::strlen(out.data());
    Check(length < static_cast<size_t>(size));
    Check(whole.compare(0, length, out.data()) == 0);
    if (utf8 && valid) Check(Valid(out.data()));
    // At most one character (four bytes) short of what the buffer holds.
    if (length < whole.size()) Check(length + 4 >= static_cast<size_t>(size - 1));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool utf8 = (data[0] & 1) != 0;
    const int bufferSize = data[0] >> 1;
    SetTextsUtf8(utf8);
    const unsigned char* bytes = data + 1;
    const size_t length = size - 1;

    const TextEncoding encoding = DetectTextEncoding(bytes, length);
    const bool validAll = IsValidUtf8(bytes, length);
    if (encoding == EncodingAscii || encoding == EncodingUtf8) Check(validAll);
    if (encoding == EncodingLegacy) Check(!validAll);
    ChooseSetupReading(encoding, utf8);

    const std::string text(reinterpret_cast<const char*>(bytes), strnlen(reinterpret_cast<const char*>(bytes), length));
    const bool valid = Valid(text.c_str());
    std::vector<char> out(static_cast<size_t>(bufferSize) + 1, '\x7f');
    CopyTruncated(out.data(), bufferSize, text.c_str());
    CheckCut(out, bufferSize, text, utf8, valid);

    if (bufferSize > 0) {
        std::string cut = out.data();
        std::vector<char> limited(cut.begin(), cut.end());
        limited.push_back(0);
        LimitCharacters(limited.data(), bufferSize / 3);
        Check(cut.compare(0, std::strlen(limited.data()), limited.data()) == 0);
        if (utf8 && valid) Check(Valid(limited.data()));
        // A beginning of a valid text cut anywhere, trimmed, is valid.
        std::vector<char> raw(text.begin(), text.begin() + static_cast<long>(std::min(text.size(), static_cast<size_t>(bufferSize))));
        raw.push_back(0);
        TrimCutCharacter(raw.data());
        if (utf8 && valid) Check(Valid(raw.data()));
    }

    std::fill(out.begin(), out.end(), '\x7f');
    FormatFileStatus("'%s' from %s.", text.c_str(), text.c_str(), out.data(), bufferSize);
    const std::string whole = "'" + text + "' from " + text + ".";
    CheckCut(out, bufferSize, whole, utf8, valid);

    std::fill(out.begin(), out.end(), '\x7f');
    ClearProfileCache();
    const std::string entry = "v=" + text;
    AddProfileSection(entry.c_str(), static_cast<unsigned>(entry.size() + 1));
    ExpandVariables("<%v%>", out.data(), bufferSize);
    CheckCut(out, bufferSize, "<" + text + ">", utf8, valid);
    return 0;
}
