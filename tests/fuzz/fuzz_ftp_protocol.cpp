// Fuzz target for the FTP protocol logic: arbitrary control text in
// arbitrary pieces, interleaved with data and socket events, must never read
// or write outside a buffer or break the one-report-per-operation rule.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "download/ftp_protocol.h"

namespace {

class FuzzLink : public FtpLink {
public:
    const uint8_t* data = nullptr;
    size_t left = 0;
    int dl1 = 0, dl4 = 0;

    uint8_t Next() {
        if (!left) return 0;
        --left;
        return *data++;
    }
    bool SendCommand(const char*, int length) override { return length > 0 && (Next() & 31) != 0; }
    void Report(FtpReport report, int, long long) override {
        if (report == FtpReport::Dl1) ++dl1;
        if (report == FtpReport::Dl4) ++dl4;
    }
    int StartControlConnection() override { return Next() % 7 == 0 ? kFtpConnectFailed : kFtpConnectStarted; }
    void CloseControlConnection() override {}
    bool OpenPassiveData(int) override { return Next() % 9 != 0; }
    bool OpenActiveData(FtpAddress* local) override {
        std::memset(local, 0, sizeof *local);
        return Next() % 9 != 0;
    }
    int ReceiveData(char* buffer, int size) override {
        uint8_t k = Next();
        if (k < 40) return 0;
        if (k < 60) return kFtpReceiveError;
        if (k < 120) return kFtpWouldBlock;
        int n = k % 17 + 1;
        if (n > size) n = size;
        std::memset(buffer, k, n);
        return n;
    }
    bool WriteData(const char*, int) override { return Next() % 13 != 0; }
    void CloseDataConnection() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzLink link;
    link.data = data;
    link.left = size;
    FtpProtocol ftp(link);
    ftp.BeginOpen("ftp.example");
    ftp.LookupDone(true);
    ftp.ControlConnected(0);
    while (link.left) {
        uint8_t op = link.Next();
        switch (op % 12) {
            case 0:
            case 1:
            case 2:
            case 3: {
                // A piece of control text of the next bytes.
                int room;
                char* area = ftp.ReceiveArea(&room);
                if (room <= 0 || room > FtpProtocol::kReplySize) abort();
                int n = op / 12 + 1;
                if (n > static_cast<int>(link.left)) n = static_cast<int>(link.left);
                if (n > room) n = room;
                std::memcpy(area, link.data, n);
                link.data += n;
                link.left -= n;
                ftp.ControlReceived(n);
                break;
            }
            case 4: ftp.DataReadable(); break;
            case 5: ftp.DataClosed(op & 0x80 ? 10054 : 0); break;
            case 6: if (op & 0x80) ftp.DataFailed(); else ftp.DataConnected(op & 0x40); break;
            case 7: {
                int before = link.dl4;
                bool started = ftp.BeginFetch("dir/file");
                if (started && link.dl4 != before) abort();
                break;
            }
            case 8: if (op > 200) ftp.TimedOut(); break;
            case 9: if (op > 220) ftp.ControlClosed(); break;
            case 10: if (op > 240) { ftp.Close(); ftp.BeginOpen("ftp.example"); ftp.LookupDone(true); ftp.ControlConnected(0); } break;
            case 11: {
                FtpAddress a;
                char text[64];
                size_t n = link.left < sizeof text - 1 ? link.left : sizeof text - 1;
                n = n > 20 ? 20 : n;
                std::memcpy(text, link.data, n);
                text[n] = 0;
                ParsePassiveAddress(text, &a);
                ParseTransferSize(text);
                ParseAnnouncedSize(text);
                break;
            }
        }
        if (ftp.replyLength() < 0 || ftp.replyLength() > FtpProtocol::kReplySize) abort();
    }
    return 0;
}
