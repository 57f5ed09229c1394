#pragma once
// A serial line that answers with bytes set in advance, for exchanges the
// emulated register never makes: whatever is written, reads take the next of
// them, and reading past them fails as a silent line does.
#include "untComPort.h"
#include "untError.h"

#include <exception>

class TScriptedLine final : public TSerialLine {
public:
    explicit TScriptedLine(std::string Answers) : Input(std::move(Answers)) {}
    bool IsOpen() const override { return FOpen; }
    void Open() override {
        if (OpenFailure)
            std::rethrow_exception(OpenFailure);
        FOpen = true;
    }
    void Close() noexcept override { FOpen = false; }
    void Write(const std::string&) override { Open(); }
    void Read(uint32_t Count, std::string& Data) override {
        if (Input.size() < Count)
            RaiseNoLink();
        Data = Input.substr(0, Count);
        Input.erase(0, Count);
    }
    // Kept: the answers are there before the exchange that purges begins.
    void PurgeInput() override {}

    std::string Input;
    std::exception_ptr OpenFailure;

private:
    bool FOpen = false;
};
