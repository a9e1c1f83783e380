#pragma once

#include "FtpServerFixture.h"
#include "TransferHost.h"

#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <vector>

// A TransferHost that records what the transfers tell it. onYield acts where the window would take in
// a queued click (Abort at a yield).
class RecordingHost : public TransferHost {
public:
    void Display(const std::string& line) override;
    void ClearLog() override { displayed.clear(); }
    double ProgressValue() const override { return progressValue; }
    void SetProgressValue(double value) override { progressValue = value; }
    void SetProgressMax(double) override {}
    void Yield() override;
    void KeepAlive(int64_t) override {}
    bool AbortRequested() const override { return abortRequested; }
    void SetAbortRequested(bool requested) override { abortRequested = requested; }
    void SetNewState(int32_t newState) override;
    void ShowMessage(const std::string& text, const std::string& title, int32_t style) override;

    QStringList displayed;
    QStringList messages; // "title|text|style"
    double progressValue = 0.0;
    bool abortRequested = false;
    std::vector<int32_t> states;
    std::function<void(RecordingHost&)> onYield;
    std::function<void(const QString&)> onDisplay;
};

// A voice-mail server's four categories, Prompts with subfolders A and B (A/deep is never backed up).
bool writeSampleTree(const QString& root);
Tree sampleBackup(); // what a backup of that tree leaves under the local base

// The test server, the engine attached and connected to it, an empty local folder and a fresh host.
class TransferWorld {
public:
    bool
    start(FtpServerFixture::ListingMode mode = FtpServerFixture::ListingMode::Mlsd); // once per test case
    void stop();
    bool begin(); // once per test: empty server root, new local folder and host, connected
    void end();
    QString serverPath(const QString& relative) const { return server.root() + '/' + relative; }
    QString localPath(const QString& relative) const { return local->filePath(relative); }
    QStringList sent(const QString& verb) const; // the commands with this verb since begin()

    FtpServerFixture server;
    std::unique_ptr<QTemporaryDir> local;
    RecordingHost host;
};
