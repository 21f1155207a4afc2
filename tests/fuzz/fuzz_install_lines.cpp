// Fuzzes the install line rules: the input is used as an action line, a
// registry line, a registry reference, a number and a list of kept files;
// the first byte chooses the size of the command buffers. Buffers are
// guarded so that a write past the stated size traps, and every kept file
// read must be one that could have been written.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "install/action_line.h"
#include "install/kept_list.h"

namespace {

void CheckGuard(const std::vector<char>& buffer, size_t size) {
    if (buffer[size] != '\x7f') __builtin_trap();
    if (size > 0 && std::strlen(buffer.data()) >= size) __builtin_trap();
}

// A file read from a list is written back to the same line.
int Rewrite(const KeptFile& file, void*) {
    char line[400];
    if (!FormatKeptLine(file, line, sizeof line)) __builtin_trap();
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t outSize = data[0] % 96;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const char* line = text.c_str();  // up to the first NUL

    ActionLine action;
    if (SplitActionLine(line, &action)) {
        if (!action.verb[0] || !action.file[0]) __builtin_trap();
        ParseTargetFlags(action.arguments);
        std::vector<char> out(outSize + 1, '\x7f');
        if (outSize > 0) {
            BuildRunCommand(action.file, action.arguments, action.verb, out.data(), (int)outSize);
            CheckGuard(out, outSize);
            if (std::strstr(out.data(), "/tray") && action.verb[0]) __builtin_trap();
            BuildPackageSetupCommand(action.file, action.arguments, line, out.data(), (int)outSize);
            CheckGuard(out, outSize);
            ComposeClientTarget(ChooseTarget(ParseTargetFlags(action.arguments)), action.file,
                                out.data(), (int)outSize);
            CheckGuard(out, outSize);
            ComServerSubkey(line, out.data(), (int)outSize);
            CheckGuard(out, outSize);
        }
    }

    std::vector<char> registry(text.begin(), text.end());
    registry.push_back('\0');
    RegistryLine value;
    if (SplitRegistryLine(registry.data(), &value) == RegistryLineValue) {
        unsigned number;
        ParseDecimalDword(value.data, &number);
        if (!value.subkey || !value.valueName || !value.data) __builtin_trap();
    }

    if (outSize > 0) {
        std::vector<char> section(outSize + 1, '\x7f'), file(outSize + 1, '\x7f');
        SplitRegistryReference(line, "C:\\dl\\setup.inf", section.data(), (int)outSize,
                               file.data(), (int)outSize);
        CheckGuard(section, outSize);
        CheckGuard(file, outSize);
        std::vector<char> folder(outSize + 1, '\x7f');
        CopyTruncated(folder.data(), (int)outSize, line);
        ShapeClientFolder(folder.data(), (int)outSize, data[0] & 1);
        CheckGuard(folder, outSize);
        EnsureTrailingBackslash(folder.data(), (int)outSize);
        CheckGuard(folder, outSize);
    }
    ParseKeptList(text.data(), text.size(), Rewrite, nullptr);
    return 0;
}
