// Part-list reader and the fetch-plan rules of HTTP components.
#include "download/line_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/ascii_case.h"
#include "http/http_url.h"

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

const char* SkipBlanks(const char* p) {
    while (IsBlank(*p)) ++p;
    return p;
}
}  // namespace


int LineFile::Append(const char* text, unsigned length) {
    // Every node's text ends in a line feed, added when the piece lacks one.
    bool hasFeed = length > 0 && text[length - 1] == '\n';
    char* copy = static_cast<char*>(std::malloc(length + (hasFeed ? 1 : 2)));
    if (!copy) return -1;
    LineNode* node = static_cast<LineNode*>(std::malloc(sizeof(LineNode)));
    if (!node) {
        std::free(copy);
        return -1;
    }
    std::memcpy(copy, text, length);
    if (!hasFeed) copy[length++] = '\n';
    copy[length] = 0;
    node->text = copy;
    node->next = nullptr;
    node->previous = last;
    if (last) last->next = node;
    else first = node;
    last = node;
    return 0;
}

void LineFile::Clear() {
    LineNode* node = first;
    while (node) {
        LineNode* next = node->next;
        std::free(node->text);
        std::free(node);
        node = next;
    }
    first = last = nullptr;
}

int LineFile::Load(const char* path) {
    FILE* f = std::fopen(path, "r");
    if (!f) return -1;
    Clear();
    char piece[kLinePieceLength + 1];
    int result = 0;
    while (std::fgets(piece, sizeof piece, f)) {
        if (Append(piece, static_cast<unsigned>(std::strlen(piece))) != 0) {
            result = -1;
            break;
        }
    }
    if (result == 0 && std::ferror(f)) result = -1;
    std::fclose(f);
    return result;
}

int LineFile::LoadText(const char* text, unsigned length) {
    Clear();
    unsigned pos = 0;
    while (pos < length) {
        // A piece ends after a line feed, at kLinePieceLength characters, or
        // at a NUL byte (which ends the text as a C string would).
        unsigned n = 0;
        while (pos + n < length && n < static_cast<unsigned>(kLinePieceLength)) {
            char c = text[pos + n];
            if (c == 0) break;
            ++n;
            if (c == '\n') break;
        }
        if (n > 0 && Append(text + pos, n) != 0) return -1;
        pos += n;
        if (pos < length && text[pos] == 0) ++pos;
    }
    return 0;
}

bool LineFile::SectionName(const LineNode* node, char* out, int size) {
    const char* p = SkipBlanks(node->text);
    if (*p != '[') return false;
    ++p;
    int n = 0;
    while (p[n] && p[n] != ']') ++n;
    if (n >= size) n = size - 1;
    std::memcpy(out, p, n);
    out[n] = 0;
    return true;
}

LineNode* LineFile::FindSection(const char* name) const {
    char found[400];
    for (LineNode* node = first; node; node = node->next) {
        if (SectionName(node, found, sizeof found) && std::strcmp(found, name) == 0) return node;
    }
    return nullptr;
}

bool LineFile::KeyMatches(const LineNode* node, const char* key) {
    const char* p = SkipBlanks(node->text);
    size_t n = 0;
    while (p[n] && !IsBlank(p[n]) && p[n] != '=') ++n;
    return std::strlen(key) == n && std::strncmp(p, key, n) == 0;
}

int LineFile::ParseValue(const LineNode* node) {
    const char* p = std::strchr(node->text, '=');
    if (!p) return 0;
    while (*p == '=' || IsBlank(*p)) ++p;
    if (*p == 'T') return 1;
    if (*p == 'F') return 0;
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    // Accumulated modulo 2^32, so a sum may be written signed or unsigned.
    uint32_t value = 0;
    while (*p >= '0' && *p <= '9') value = value * 10u + static_cast<uint32_t>(*p++ - '0');
    if (negative) value = 0u - value;
    return static_cast<int>(value);
}

int LineFile::GetValue(const char* section, const char* key, int* out) const {
    LineNode* header = FindSection(section);
    if (!header) return -1;
    char name[400];
    for (LineNode* node = header->next; node; node = node->next) {
        if (SectionName(node, name, sizeof name)) break;
        if (KeyMatches(node, key)) {
            *out = ParseValue(node);
            return 0;
        }
    }
    return -1;
}

const char kSha256Section[] = "sha256";
const char kSha256TotalKey[] = "total";

int LineFile::GetSha256(const char* key, unsigned char digest[kSha256Size]) const {
    LineNode* header = FindSection(kSha256Section);
    if (!header) return -1;
    char name[400];
    for (LineNode* node = header->next; node; node = node->next) {
        if (SectionName(node, name, sizeof name)) break;
        if (!KeyMatches(node, key)) continue;
        // The value as ParseValue finds it, up to blanks and the line end.
        const char* p = std::strchr(node->text, '=');
        if (!p) return -2;
        while (*p == '=' || IsBlank(*p)) ++p;
        char hex[kSha256HexLength + 1];
        int n = 0;
        for (; *p && !IsBlank(*p) && *p != '\r' && *p != '\n'; ++p) {
            if (n == kSha256HexLength) return -2;
            hex[n++] = *p;
        }
        hex[n] = 0;
        while (IsBlank(*p) || *p == '\r' || *p == '\n') ++p;
        if (*p) return -2;
        return ParseSha256Hex(hex, digest) ? 0 : -2;
    }
    return -1;
}

void PartName(int number, char* out, int size) {
    std::snprintf(out, size, "file%03d.bin", number);
}

void ReadPartPlan(const LineFile& list, PartPlan* plan) {
    plan->count = 0;
    plan->total = 0;
    plan->bufferSize = 0;
    plan->strongSums = list.FindSection(kSha256Section) != nullptr;
    char name[32];
    int size = 0;
    for (int n = 0;; ++n) {
        PartName(n, name, sizeof name);
        if (list.GetValue("files", name, &size) != 0) break;
        if (plan->bufferSize == 0 && size > 0) plan->bufferSize = size;
        plan->total += size;
        plan->count = n + 1;
    }
}

bool PartListWhole(const LineFile& list, char* problem, int size) {
    PartPlan plan;
    ReadPartPlan(list, &plan);
    char name[32];
    int value = 0;
    unsigned char digest[kSha256Size];
    for (int n = 0; n <= plan.count; ++n) {
        // After the parts, the whole file's entries.
        if (n < plan.count) PartName(n, name, sizeof name);
        const char* sumKey = n < plan.count ? name : "total_sum";
        const char* strongKey = n < plan.count ? name : kSha256TotalKey;
        const char* missing = list.GetValue("sums", sumKey, &value) != 0 ? "sums"
                              : plan.strongSums && list.GetSha256(strongKey, digest) != 0 ? kSha256Section
                                                                                            : nullptr;
        if (missing) {
            std::snprintf(problem, size_t(size), "no [%s] %s", missing, missing == kSha256Section ? strongKey : sumKey);
            return false;
        }
    }
    if (size > 0) problem[0] = 0;
    return true;
}

StrongSumCheck CheckStrongSum(const LineFile& list, const char* key, const unsigned char digest[kSha256Size]) {
    if (!list.FindSection(kSha256Section)) return StrongSumAbsent;
    unsigned char listed[kSha256Size];
    // A section that is there but says nothing usable for the key passes
    // nothing: otherwise cutting a line would switch the check off.
    if (list.GetSha256(key, listed) != 0) return StrongSumDiffers;
    unsigned char differ = 0;
    for (int i = 0; i < kSha256Size; ++i) differ |= static_cast<unsigned char>(listed[i] ^ digest[i]);
    return differ ? StrongSumDiffers : StrongSumMatches;
}

StrongSumCheck CheckStrongSumOf(const LineFile& list, const char* key, const void* bytes, size_t size) {
    if (!list.FindSection(kSha256Section)) return StrongSumAbsent;
    unsigned char digest[kSha256Size];
    Sha256Of(bytes, size, digest);
    return CheckStrongSum(list, key, digest);
}

bool PartSizeFits(int size, int bufferSize) { return size >= 0 && size <= bufferSize; }

void FormatSiteUrl(char* out, int size, const char* user, const char* password,
                   const char* site, const char* remotePath, const char* name) {
    IAD_URL parsed(site ? site : "");
    FormatUrl(out, size, parsed, user ? user : "", password ? password : "", remotePath, name);
}

namespace {
// "[user:password@]host[:port]" of a proxy: the address taken apart by the
// URL parser ("http://proxy:8080" and "proxy" alike), the port of the
// settings in place of the address's own when one is given. A port that
// is no number stays in the text, so that the client refuses it rather
// than fall back to no proxy.
void FormatProxy(char* out, int size, const char* user, const char* password, const char* address,
                 const char* port) {
    if (size <= 0) return;
    out[0] = 0;
    if (!address || !address[0]) return;
    IAD_URL parsed(address);
    char hostPort[300];
    const char* host = parsed.host ? parsed.host : "";
    if (port && port[0])
        std::snprintf(hostPort, sizeof hostPort, "%s:%s", host, port);
    else if (!parsed.valid || parsed.port != parsed.default_port())
        std::snprintf(hostPort, sizeof hostPort, "%s:%u", host, unsigned(parsed.port));
    else
        std::snprintf(hostPort, sizeof hostPort, "%s", host);
    char userInformation[3 * 2 * 260 + 4] = "";
    if (user) FormatUserInformation(userInformation, sizeof userInformation, user, password);
    std::snprintf(out, size_t(size), "%s%s", userInformation, hostPort);
}
}  // namespace

void FormatProxyText(char* out, int size, const char* user, const char* password,
                     const char* address, const char* port) {
    FormatProxy(out, size, user ? user : "", password ? password : "", address, port);
}

void FormatBareProxyText(char* out, int size, const char* address, const char* port) {
    FormatProxy(out, size, nullptr, nullptr, address, port);
}

ProxyAttempt NextProxyAttempt(ProxyAttempt attempt) {
    switch (attempt) {
    case RunGiven: return Configured;
    case Configured: return Browser;
    case Browser: return Direct;
    default: return AskUser;
    }
}

int PartRetryDelayMs(int failures) {
    if (failures <= 0) return 0;
    int delay = 1000;
    for (int i = 1; i < failures && delay < 30000; ++i) delay *= 2;
    return delay < 30000 ? delay : 30000;
}
