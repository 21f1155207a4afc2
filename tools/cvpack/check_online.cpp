// cvpack check --online: fetches each "http" component's part list from its
// site and every mirror with the program's HTTP client and compares it with
// the pinned fingerprint and the other sites; asks each FTP site for each
// file through the program's FTP protocol logic (its size, and the whole
// file when it is pinned). No proxy is used: this runs on the publisher's
// machine, not behind the client's.
#include <cstdio>
#include <cstring>
#include <vector>

#include "check.h"
#include "download/fetch_rules.h"
#include "download/ftp_protocol.h"
#include "download/line_file.h"
#include "http/codec.h"
#include "http/http_client.h"
#include "http/net.h"
#include "http/secure_channel.h"
#include "http/sha256.h"
#include "setup/component.h"
#include "setup/setup_keys.h"

namespace {

// The largest part list fetched: 4 GB in parts of 64 KB is some 65536
// parts, three lines each.
const int kPartListLimit = 16 * 1024 * 1024;
const int kFtpWaitMs = 30000;

std::string HexOf(const unsigned char digest[kSha256Size]) {
    char hex[kSha256HexLength + 1];
    Sha256Hex(digest, hex);
    return hex;
}

// The site as the HTTP transport keeps it: without "http://", ending in "/".
std::string SiteBase(const std::string& site) {
    const std::string base = site.compare(0, 7, "http://") == 0 ? site.substr(7) : site;
    return base + "/";
}

// Passwords of "http" components are stored scrambled; one that does not
// descramble is sent empty, as the program does.
std::string Descrambled(const std::string& text) {
    if (text.empty()) return text;
    std::vector<unsigned char> plain(text.size() + 1);
    int length = 0;
    if (!descramble(text.c_str(), static_cast<int>(text.size()), plain.data(), static_cast<int>(plain.size()),
                    &length) ||
        length < 0 || length >= static_cast<int>(plain.size()))
        return std::string();
    return std::string(reinterpret_cast<char*>(plain.data()), static_cast<size_t>(length));
}

// The FTP protocol logic over blocking sockets with bounded waits: one
// control connection, passive data connections to the same server only.
class ProbeFtpLink : public FtpLink {
public:
    explicit ProbeFtpLink(Sha256* digest) : digest(digest) {}
    ~ProbeFtpLink() {
        CloseDataConnection();
        CloseControlConnection();
    }

    bool SendCommand(const char* text, int length) override {
        for (int sent = 0; sent < length;) {
            if (NetWaitWritable(control, kFtpWaitMs) != 1) return false;
            const int n = NetSend(control, text + sent, length - sent);
            if (n <= 0) {
                if (n < 0 && NetWouldBlock(NetLastError())) continue;
                return false;
            }
            sent += n;
        }
        return true;
    }
    void Report(FtpReport report, int code, long long value) override {
        switch (report) {
            case FtpReport::Dl1:
                openCode = code;
                break;
            case FtpReport::Dl2:
                if (code == 0) {
                    size = value;
                    sizeKnown = true;
                } else {
                    endCode = code;
                }
                break;
            case FtpReport::Dl3:
                break;
            case FtpReport::Dl4:
                endCode = code;
                break;
        }
    }
    int StartControlConnection() override {
        control = Connect(server);
        return control == kNoSocket ? kFtpConnectFailed : kFtpConnectStarted;
    }
    void CloseControlConnection() override {
        if (control != kNoSocket) NetClose(control);
        control = kNoSocket;
    }
    bool OpenPassiveData(int port) override {
        NetAddress to = server;
        to.port = NetPort(static_cast<unsigned>(port));
        data = Connect(to);
        dataEnded = false;
        return data != kNoSocket;
    }
    // Listening for the server is beyond this probe: active mode fails.
    bool OpenActiveData(FtpAddress*) override { return false; }
    int ReceiveData(char* buffer, int size) override {
        if (data == kNoSocket || dataEnded) return 0;
        const int n = NetRecv(data, buffer, size);
        if (n > 0) return n;
        if (n == 0) {
            dataEnded = true;
            return 0;
        }
        return NetWouldBlock(NetLastError()) ? kFtpWouldBlock : kFtpReceiveError;
    }
    bool WriteData(const char* bytes, int length) override {
        if (digest) digest->update(bytes, static_cast<size_t>(length));
        return true;
    }
    void CloseDataConnection() override {
        if (data != kNoSocket) NetClose(data);
        data = kNoSocket;
    }

    NetAddress server = {};
    NetSocket control = kNoSocket;
    NetSocket data = kNoSocket;
    bool dataEnded = false;
    int openCode = -1;
    int endCode = -1;
    bool sizeKnown = false;
    long long size = -1;

private:
    static NetSocket Connect(const NetAddress& to) {
        NetSocket s = NetTcpSocket();
        if (s == kNoSocket) return kNoSocket;
        int error = 0;
        if (NetSetNonBlocking(s) != 0 ||
            (NetConnect(s, to) != 0 && (!NetInProgress(NetLastError()) ||
                                        NetWaitConnected(s, kFtpWaitMs, &error) != 1))) {
            NetClose(s);
            return kNoSocket;
        }
        return s;
    }
    Sha256* digest;
};

// Hands what arrived on the control connection to the protocol; false when
// nothing came within the wait or the connection ended.
bool PumpControl(FtpProtocol& protocol, ProbeFtpLink& link, int waitMs) {
    if (link.control == kNoSocket) return false;
    const int ready = NetWaitReadable(link.control, waitMs);
    if (ready != 1) return ready == 0 && waitMs == 0;
    int room = 0;
    char* area = protocol.ReceiveArea(&room);
    const int n = NetRecv(link.control, area, room);
    if (n > 0) {
        protocol.ControlReceived(n);
        return true;
    }
    if (n < 0 && NetWouldBlock(NetLastError())) return true;
    protocol.ControlClosed();
    return false;
}

struct FtpOutcome {
    bool reached;      // logged in
    bool fetched;      // the size came (and the whole file when asked)
    long long size;    // as the server announced it, -1 when it did not
    std::string sha256;  // of the whole file, when asked for
    std::string why;
};

FtpOutcome ProbeFtp(const FetchSite& site, const std::string& remotePath, bool whole) {
    FtpOutcome out = {false, false, -1, std::string(), std::string()};
    Sha256 digest;
    ProbeFtpLink link(whole ? &digest : nullptr);
    FtpProtocol protocol(link);
    protocol.SetCredentials(site.user.c_str(), site.password.c_str());
    protocol.BeginOpen(site.host.c_str());
    uint32_t address = 0;
    int error = 0;
    const bool found = NetParseDotted(site.host.c_str(), &address) == 0 ||
                       NetLookup(site.host.c_str(), &address, &error) == 0;
    link.server.address = address;
    link.server.port = NetPort(21);
    link.server.family = NetFamilyInet();
    protocol.LookupDone(found);
    if (protocol.state() == FtpState::CONNECTING) protocol.ControlConnected(0);
    while (link.openCode < 0 && PumpControl(protocol, link, kFtpWaitMs)) {
    }
    if (link.openCode != 0) {
        out.why = link.openCode == 1   ? "the host name is not known"
                  : link.openCode < 0 ? "the server stopped answering"
                                      : "no connection or the login was refused";
        protocol.Close();
        return out;
    }
    out.reached = true;
    if (!protocol.BeginFetch(remotePath.c_str())) {
        out.why = "the connection broke";
        return out;
    }
    // Until the transfer ends, or, when only the size is asked for, until
    // the server has said it.
    while (link.endCode < 0 && !(link.sizeKnown && !whole)) {
        bool active;
        if (link.data != kNoSocket && protocol.fetchActive()) {
            const int ready = NetWaitReadable(link.data, 100);
            if (ready == 1) {
                protocol.DataReadable();
                if (link.dataEnded) protocol.DataClosed(0);
            }
            active = PumpControl(protocol, link, 0);
            if (ready == -1) protocol.DataFailed();
        } else {
            active = PumpControl(protocol, link, kFtpWaitMs);
        }
        if (!active) {
            protocol.TimedOut();
            if (link.endCode < 0) link.endCode = 4;
        }
    }
    out.size = link.size;
    if (link.endCode > 0) {
        out.why = link.sizeKnown ? "the transfer broke off" : "the server refused the file";
    } else if (link.sizeKnown || link.endCode == 0) {
        out.fetched = true;
        if (whole) {
            unsigned char d[kSha256Size];
            digest.final(d);
            out.sha256 = HexOf(d);
            if (out.size < 0) out.size = protocol.bytesReceived();
        }
    }
    protocol.Close();
    return out;
}

}  // namespace

void SetupCheck::CheckOnline(const CheckedComponent& c) {
    if (c.protocol == ProtocolHttp) CheckPartLists(c);
    if (c.protocol == ProtocolFtp) CheckFtpFiles(c);
}

void SetupCheck::CheckPartLists(const CheckedComponent& c) {
    if (c.files.empty() || c.sites.empty()) return;
    NetStartup();
    // Over HTTP the component's directory names the published file: every
    // file of the list is fetched from the same part list.
    char remotePath[1024];
    BuildRemotePath(c.sourceDir.c_str(), "", 0, remotePath, sizeof remotePath);
    const std::string& pin = c.pins[0];
    std::string first, firstSite;
    std::vector<char> body(kPartListLimit);
    for (const FetchSite& site : c.sites) {
        const std::string base = SiteBase(site.host);
        const std::string where = base + remotePath + "pkginfo.txt";
        std::vector<char> url(3 * 1024 + base.size() + sizeof remotePath);
        FormatSiteUrl(url.data(), static_cast<int>(url.size()), site.user.c_str(),
                      Descrambled(site.password).c_str(), base.c_str(), remotePath, "pkginfo.txt");
        IAD_HTTPClient client(0);
        int length = 0;
        if (client.set_urls(url.data(), "") != 0 ||
            client.GetBuffer(nullptr, body.data(), kPartListLimit, &length) != 0) {
            if (client.tls_failure() == TlsUnavailable) {
                Note(c.section, site.line, site.key,
                     "%s not checked: this build of cvpack has no TLS (check https sites with cvpack.exe on "
                     "Windows)",
                     where.c_str());
                ++notChecked;
            } else {
                Problem(c.section, site.line, site.key, "%s cannot be fetched: %s", where.c_str(),
                        client.last_failure()[0] ? client.last_failure() : "no answer");
            }
            continue;
        }
        unsigned char digest[kSha256Size];
        Sha256Of(body.data(), static_cast<size_t>(length), digest);
        const std::string served = HexOf(digest);
        if (!pin.empty() && served != pin) {
            Problem(c.section, site.line, site.key,
                    "%s does not match the fingerprint in the setup (it is sha256=%s): the program refuses it",
                    where.c_str(), served.c_str());
        } else if (!firstSite.empty() && served != first) {
            Problem(c.section, site.line, site.key, "%s differs from %s", where.c_str(), firstSite.c_str());
        } else {
            Note(c.section, site.line, site.key, "%s reached: %d bytes, sha256=%s%s", where.c_str(), length,
                 served.c_str(), pin.empty() ? " (not pinned)" : ", as pinned");
        }
        if (firstSite.empty()) {
            first = served;
            firstSite = where;
        } else if (served != first) {
            continue;
        }
        LineFile list;
        if (list.LoadText(body.data(), static_cast<unsigned>(length)) != 0) continue;
        PartPlan plan;
        ReadPartPlan(list, &plan);
        if (plan.count == 0) {
            Problem(c.section, site.line, site.key, "%s names no parts", where.c_str());
            continue;
        }
        if (!plan.strongSums) {
            // Pinned, the list is trusted but its parts are not.
            if (!pin.empty())
                Problem(c.section, site.line, site.key,
                        "%s has no [%s] section: its parts are checked only by 32-bit sums, which other bytes "
                        "can match; split the file again with this cvpack",
                        where.c_str(), kSha256Section);
            else
                Note(c.section, site.line, site.key,
                     "%s has no [%s] section: its parts are checked only by 32-bit sums", where.c_str(),
                     kSha256Section);
            continue;
        }
        unsigned char part[kSha256Size];
        char name[32];
        for (int n = 0; n <= plan.count; ++n) {
            if (n < plan.count)
                PartName(n, name, sizeof name);
            else
                std::snprintf(name, sizeof name, "%s", kSha256TotalKey);
            if (list.GetSha256(name, part) != 0) {
                Problem(c.section, site.line, site.key, "%s: [%s] has no fingerprint for %s", where.c_str(),
                        kSha256Section, name);
                break;
            }
        }
    }
}

void SetupCheck::CheckFtpFiles(const CheckedComponent& c) {
    NetStartup();
    for (size_t i = 0; i < c.files.size(); ++i) {
        if (!IsSafeFileName(c.files[i].c_str())) continue;
        char remotePath[1024];
        BuildRemotePath(c.sourceDir.c_str(), c.files[i].c_str(), 1, remotePath, sizeof remotePath);
        const std::string& pin = c.pins[i];
        long long firstSize = -1;
        std::string firstSite;
        for (const FetchSite& site : c.sites) {
            const std::string where = "ftp://" + site.host + "/" + remotePath;
            const FtpOutcome outcome = ProbeFtp(site, remotePath, !pin.empty());
            if (!outcome.fetched) {
                Problem(c.section, site.line, site.key, "%s cannot be fetched: %s", where.c_str(),
                        outcome.why.c_str());
                continue;
            }
            if (!pin.empty() && outcome.sha256 != pin) {
                Problem(c.section, site.line, site.key,
                        "%s does not match the fingerprint in the setup (it is sha256=%s): the program refuses it",
                        where.c_str(), outcome.sha256.c_str());
            } else if (!firstSite.empty() && outcome.size >= 0 && firstSize >= 0 && outcome.size != firstSize) {
                Problem(c.section, site.line, site.key, "%s has %lld bytes, but %lld on %s", where.c_str(),
                        outcome.size, firstSize, firstSite.c_str());
            } else if (outcome.size < 0) {
                Note(c.section, site.line, site.key, "%s reached; the server announces no size", where.c_str());
            } else {
                Note(c.section, site.line, site.key, "%s reached: %lld bytes%s", where.c_str(), outcome.size,
                     pin.empty() ? " (not pinned: only its size is asked for)" : ", matches the fingerprint");
            }
            if (firstSite.empty()) {
                firstSite = site.host;
                firstSize = outcome.size;
            }
        }
    }
}
