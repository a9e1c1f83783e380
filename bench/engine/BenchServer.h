#pragma once

#include <string>
#include <sys/types.h>

// The test FTP server (tests/ftpserver/ftpserver.py under Debian's python3) serving one folder on
// 127.0.0.1 with a port of its choosing; stopped by its process id.
class BenchServer {
public:
    BenchServer() = default;
    ~BenchServer();
    BenchServer(const BenchServer&) = delete;
    BenchServer& operator=(const BenchServer&) = delete;

    // Starts the server and waits for the "PORT <n>" line; false with a message on stderr otherwise.
    bool start(const std::string& root);
    void stop();
    int port() const { return m_port; }

private:
    pid_t m_pid = -1;
    int m_port = 0;
};
