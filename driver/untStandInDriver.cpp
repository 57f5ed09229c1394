#include "untStandInDriver.h"

#include "untComPort.h"
#include "untError.h"
#include "untFrames.h"
#include "untProtocol.h"

#include <cstdio>

namespace {

std::string RegisterErrorText(int32_t Code) {
    switch (Code) {
    case reBadParameters:
        return "неверные параметры команды";
    case reNotSupported:
        return "команда не поддерживается";
    case reWrongPassword:
        return "неверный пароль";
    }
    return "неизвестная ошибка";
}

std::string Hex(uint8_t Byte) {
    char Buf[8];
    std::snprintf(Buf, sizeof Buf, "0x%02X", Byte);
    return Buf;
}

} // namespace

std::string StandInErrorDescription(int32_t Code) {
    switch (Code) {
    case sdOk:
        return "Ошибок нет";
    case sdNoLink:
        return "Нет связи";
    case sdPortNotAvailable:
        return "СOM порт не доступен";
    case sdPortBusy:
        return "СOM порт занят другим приложением";
    case sdBadAnswer:
        return "Неверный ответ ФР";
    case sdBadBaudrate:
        return "Неверный номер скорости обмена";
    case sdBadTimeout:
        return "Неверное значение таймаута";
    case sdSystemError:
        return "Системная ошибка";
    }
    if (Code > 0 && Code <= 0xFF)
        return "ФР: " + RegisterErrorText(Code) + " (" + Hex(static_cast<uint8_t>(Code)) + ")";
    return "Неизвестная ошибка";
}

TStandInDriver::TStandInDriver(std::shared_ptr<TStandInSettingsStore> Store,
                               TPropertiesDialog Dialog, std::unique_ptr<TSerialLine> Line)
    : FStore(std::move(Store)), FDialog(std::move(Dialog)), FSettings(FStore->Load()),
      FPort(Line ? std::move(Line) : std::make_unique<TComPort>()),
      FResultDescription(StandInErrorDescription(sdOk)) {}

TStandInDriver::~TStandInDriver() = default;

TAutoValue TStandInDriver::Invoke(const std::string& Name) {
    if (Name == "Connect")
        return Connect();
    if (Name == "Disconnect")
        return Disconnect();
    if (Name == "SetExchangeParam")
        return SetExchangeParam();
    if (Name == "ShowProperties")
        return ShowProperties();
    if (Name == "Timeout")
        return FSettings.Timeout;
    if (Name == "Baudrate")
        return FSettings.Baudrate;
    if (Name == "ComNumber")
        return FSettings.ComNumber;
    if (Name == "ResultCode")
        return FResultCode;
    if (Name == "ResultCodeDescription")
        return FResultDescription;
    RaiseUnknownName(Name);
}

void TStandInDriver::Put(const std::string& Name, const TAutoValue& Value) {
    if (Name == "Timeout")
        FSettings.Timeout = Value.AsInt32();
    else if (Name == "Baudrate")
        FSettings.Baudrate = Value.AsInt32();
    else if (Name == "ComNumber")
        FSettings.ComNumber = Value.AsInt32();
    else
        RaiseUnknownName(Name);
    Store();
}

void TStandInDriver::Store() {
    FStore->Save(FSettings);
}

void TStandInDriver::Fail(int32_t Code, const std::string& Description) {
    FResultCode = Code;
    FResultDescription = Description;
}

int32_t TStandInDriver::Guarded(const std::function<void()>& Body) {
    Fail(sdOk, StandInErrorDescription(sdOk));
    try {
        Body();
    } catch (const EDriverError& E) {
        Fail(E.Code, E.what());
    } catch (const EStandInFailure& E) {
        Fail(E.Code, E.what());
    } catch (const std::exception& E) {
        Fail(sdSystemError, StandInErrorDescription(sdSystemError) + ": " + E.what());
    }
    if (FResultCode != sdOk && FConnected)
        Disconnect();
    return FResultCode;
}

void TStandInDriver::OpenLine() {
    if (FSettings.Baudrate < 0 || FSettings.Baudrate >= BaudRateCount)
        throw EStandInFailure(sdBadBaudrate, StandInErrorDescription(sdBadBaudrate) + ": " +
                                                 std::to_string(FSettings.Baudrate));
    if (FSettings.ComNumber <= 0)
        throw EDriverError(sdPortNotAvailable, StandInErrorDescription(sdPortNotAvailable));
    FPort->BaudRate = BaudRates[FSettings.Baudrate];
    FPort->ComNumber = static_cast<uint32_t>(FSettings.ComNumber);
    FPort->Timeout = LinkTimeoutMs;
    FPort->Open();
}

std::string TStandInDriver::Exchange(const std::string& Command) {
    const auto BadAnswer = [](const std::string& What) {
        throw EStandInFailure(sdBadAnswer, StandInErrorDescription(sdBadAnswer) + ": " + What);
    };
    const auto ReadFrame = [&] {
        std::string Head, Rest;
        FPort->Read(2, Head);
        FPort->Read(static_cast<uint8_t>(Head[1]) + 1u, Rest);
        if (static_cast<uint8_t>(Head[0]) != STX)
            BadAnswer("нет STX");
        const std::string Body = Head.substr(1) + Rest.substr(0, Rest.size() - 1);
        if (FrameChecksum(Body) != static_cast<uint8_t>(Rest.back()))
            BadAnswer("неверная контрольная сумма");
        return Body.substr(1);
    };
    // An answer the register still holds from someone else's exchange is
    // taken off the line first, so it is not read as ours.
    FPort->PurgeInput();
    FPort->Write(std::string(1, char(ENQ)));
    uint8_t Reply = FPort->ReadByte();
    if (Reply == ACK) {
        ReadFrame();
        FPort->Write(std::string(1, char(ACK)));
    } else if (Reply != NAK) {
        BadAnswer("на ENQ принят " + Hex(Reply));
    }
    FPort->Write(BuildFrame(Command));
    Reply = FPort->ReadByte();
    if (Reply != ACK)
        BadAnswer("команда не принята, " + Hex(Reply));
    const std::string Answer = ReadFrame();
    FPort->Write(std::string(1, char(ACK)));
    if (Answer.size() < 2 || Answer[0] != Command[0])
        BadAnswer("ответ не на ту команду");
    if (const auto Error = static_cast<uint8_t>(Answer[1]); Error != reOk)
        throw EStandInFailure(Error, StandInErrorDescription(Error));
    return Answer;
}

int32_t TStandInDriver::Connect() {
    return Guarded([&] {
        OpenLine();
        FConnected = true;
        Exchange(ShortStatusCommand());
    });
}

int32_t TStandInDriver::Disconnect() {
    FPort->Close();
    FConnected = false;
    return sdOk;
}

int32_t TStandInDriver::SetExchangeParam() {
    const bool WasConnected = FConnected;
    const int32_t Code = Guarded([&] {
        if (FSettings.Timeout < 0)
            throw EStandInFailure(sdBadTimeout, StandInErrorDescription(sdBadTimeout) + ": " +
                                                    std::to_string(FSettings.Timeout));
        OpenLine();
        Exchange(SetExchangeTimeoutCommand(static_cast<uint32_t>(FSettings.Timeout)));
    });
    // Connected for this call only: give the line back.
    if (!WasConnected)
        Disconnect();
    return Code;
}

int32_t TStandInDriver::ShowProperties() {
    return Guarded([&] {
        TStandInSettings Edited = FSettings;
        if (FDialog && FDialog(Edited)) {
            FSettings = Edited;
            Store();
        }
    });
}
