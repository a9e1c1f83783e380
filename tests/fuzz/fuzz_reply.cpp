#include "ControlConnection.h"
#include "FuzzCheck.h"
#include "ProtocolTrace.h"

#include <algorithm>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

// The server's bytes, in pieces of the size the input chooses, then the end of the stream.
class ScriptedStream : public ByteStream {
public:
    ScriptedStream(std::string bytes, size_t piece) : m_bytes(std::move(bytes)), m_piece(piece) {}
    ssize_t receive(char* buffer, size_t length, int) override {
        const size_t count = std::min({length, m_piece, m_bytes.size() - m_at});
        std::memcpy(buffer, m_bytes.data() + m_at, count);
        m_at += count;
        return static_cast<ssize_t>(count);
    }
    ssize_t sendAll(const char*, size_t length, int) override { return static_cast<ssize_t>(length); }
    void finishSending() override {}
    int descriptor() const override { return -1; }

private:
    std::string m_bytes;
    size_t m_piece;
    size_t m_at = 0;
};

} // namespace

// Replies one after another until the stream fails: each whole, within 1,000 lines and 64 KiB, its last
// line the one with its code. The input's text may come many times over, to reach those bounds.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const size_t piece = input.ConsumeIntegralInRange<size_t>(1, 8192);
    const size_t copies = input.ConsumeIntegralInRange<size_t>(1, 1100);
    const std::string text = input.ConsumeRemainingBytesAsString();
    std::string bytes;
    for (size_t i = 0; i < copies && bytes.size() < 150000; ++i)
        bytes += text;
    ProtocolTrace trace;
    ControlConnection control(trace);
    control.adoptStream(std::make_unique<ScriptedStream>(bytes, piece));
    FtpReply reply;
    while (control.readReply(reply, "FUZZ").ok()) {
        size_t total = 0;
        for (const std::string& line : reply.lines)
            total += line.size();
        FUZZ_CHECK(reply.code >= 100 && reply.code < 700 && reply.code != 421);
        FUZZ_CHECK(reply.lines.size() <= ControlConnection::kMostReplyLines);
        FUZZ_CHECK(total <= ControlConnection::kLongestReplyBytes);
        FUZZ_CHECK(reply.lastLine().compare(0, 3, std::to_string(reply.code)) == 0);
    }
    FUZZ_CHECK(!control.isOpen());
    return 0;
}
