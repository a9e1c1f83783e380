#include "BenchServer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

BenchServer::~BenchServer() {
    stop();
}

bool BenchServer::start(const std::string& root) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return false;
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        ::execl("/usr/bin/python3", "python3", KAVREL_FTPSERVER_SCRIPT, "--root", root.c_str(), "--port", "0",
                "--host", "127.0.0.1", static_cast<char*>(nullptr));
        std::perror("bench_engine: cannot run /usr/bin/python3");
        std::_Exit(127);
    }
    ::close(pipeEnds[1]);
    FILE* output = ::fdopen(pipeEnds[0], "r");
    char line[128];
    while (output != nullptr && std::fgets(line, sizeof(line), output) != nullptr) {
        if (std::sscanf(line, "PORT %d", &m_port) == 1)
            break;
    }
    if (output != nullptr)
        std::fclose(output);
    if (m_port <= 0) {
        std::fprintf(stderr, "bench_engine: the test server did not start\n");
        stop();
        return false;
    }
    return true;
}

void BenchServer::stop() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}
