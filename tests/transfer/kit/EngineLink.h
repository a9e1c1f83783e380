#pragma once

#include <QString>

#include <cstdint>

// The engine attached once per test process and connected to the test server per test, the way the
// window's Connect leaves it: 3 s timeout, passive, binary.
namespace EngineLink {

bool attach();
void release();
// fceConnect + binary mode; the engine's code (negative on failure).
int32_t connect(const QString& address);
void close();
// The engine's text for a code, for failure messages.
QString errorText(int32_t code);

} // namespace EngineLink
