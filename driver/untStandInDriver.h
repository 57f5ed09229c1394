#pragma once
// A stand-in for the register's automation driver, for systems without it:
// the same members under the same identifier, speaking the register's link
// protocol over its own connection to the line.
#include "untAutoRegistry.h"
#include "untComPort.h"

#include <functional>

struct TStandInSettings {
    int32_t ComNumber = 1;
    int32_t Baudrate = 2;  // index into the seven rates, 9600
    int32_t Timeout = 150; // ms, the register's exchange timeout
};

class TStandInSettingsStore {
public:
    virtual ~TStandInSettingsStore() = default;
    virtual TStandInSettings Load() = 0;
    virtual void Save(const TStandInSettings& Settings) = 0;
};

// Shows the settings dialog; true when the operator confirmed the changes.
using TPropertiesDialog = std::function<bool(TStandInSettings&)>;

// Result codes of the stand-in; a positive code is the register's own error.
enum : int32_t {
    sdOk = 0,
    sdNoLink = -1,
    sdPortNotAvailable = -2,
    sdPortBusy = -3,
    sdBadAnswer = -4,
    sdBadBaudrate = -5,
    sdBadTimeout = -6,
    sdSystemError = -7,
};

class TStandInDriver final : public TAutoServer {
public:
    // Line is the driver's own connection to the register; a TComPort unless
    // given.
    TStandInDriver(std::shared_ptr<TStandInSettingsStore> Store, TPropertiesDialog Dialog,
                   std::unique_ptr<TSerialLine> Line = {});
    ~TStandInDriver() override;

    TAutoValue Invoke(const std::string& Name) override;
    void Put(const std::string& Name, const TAutoValue& Value) override;

    // The link timeout of the driver's own exchanges, which are short ones.
    static constexpr uint32_t LinkTimeoutMs = 1000;

private:
    int32_t Connect();
    int32_t Disconnect();
    int32_t SetExchangeParam();
    int32_t ShowProperties();
    // Runs Body, turning its failures into a result code and description.
    int32_t Guarded(const std::function<void()>& Body);
    void OpenLine();
    // Sends one command and returns the data of the register's answer.
    std::string Exchange(const std::string& Command);
    void Fail(int32_t Code, const std::string& Description);
    void Store();

    std::shared_ptr<TStandInSettingsStore> FStore;
    TPropertiesDialog FDialog;
    TStandInSettings FSettings;
    std::unique_ptr<TSerialLine> FPort;
    bool FConnected = false;
    int32_t FResultCode = sdOk;
    std::string FResultDescription;
};

// The register's answer to a command was an error or made no sense.
class EStandInFailure : public std::runtime_error {
public:
    EStandInFailure(int32_t ACode, const std::string& Text)
        : std::runtime_error(Text), Code(ACode) {}
    int32_t Code;
};

std::string StandInErrorDescription(int32_t Code);
