#pragma once

#include <cstdint>
#include <string>
#include <utility>

// The outcome of one step inside the engine: success, or a failure code with the words that explain it.
// Every layer hands these upwards; only the fce* boundary turns them into a bare code.
class EngineStatus {
public:
    EngineStatus() = default;
    static EngineStatus failure(int32_t code, std::string text) {
        return EngineStatus(code, std::move(text));
    }

    bool ok() const { return m_code >= 0; }
    int32_t code() const { return m_code; }
    const std::string& text() const { return m_text; }

private:
    EngineStatus(int32_t code, std::string text) : m_code(code), m_text(std::move(text)) {}

    int32_t m_code = 0;
    std::string m_text;
};
