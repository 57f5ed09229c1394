#include "untTimeoutTest.h"

#include "untClock.h"
#include "untComPort.h"
#include "untFrames.h"

#include <cstdio>
#include <exception>
#include <stdexcept>

namespace {

const std::string Separator = "----------------------------";

[[noreturn]] void RaiseWrongReply(uint8_t Byte) {
    char Text[64];
    std::snprintf(Text, sizeof Text, "Принят неверный код ответа: 0x%.2Xh", Byte);
    throw std::runtime_error(Text);
}

std::string Bytes(uint8_t Byte) {
    return std::string(1, static_cast<char>(Byte));
}

} // namespace

std::string ProbeCommand() {
    return ShortStatusCommand();
}

void TTimeoutTest::Log(const std::string& Line) {
    FHost.Log().Add(Line);
}

void TTimeoutTest::AddToLastLine(const std::string& S) {
    TLog& L = FHost.Log();
    // The operator may have cleared the log in the middle of the run.
    if (L.Count() == 0)
        return;
    const int Last = L.Count() - 1;
    L.SetLine(Last, L.Line(Last) + S);
}

void TTimeoutTest::SetDeviceTimeout(int32_t T) {
    FHost.ComPort().Close();
    Log("Установка таймаута ФР " + std::to_string(T) + " мс.");
    FHost.GetDriver().Put("Timeout", T);
    FHost.CheckResult(FHost.GetDriver().Get("SetExchangeParam").AsInt32());
    Log("Отключение от ФР");
    FHost.CheckResult(FHost.GetDriver().Get("Disconnect").AsInt32());
}

void TTimeoutTest::TestTimeout(uint32_t Delay) {
    TSerialLine& Port = FHost.ComPort();

    // Take the line over from the driver.
    FHost.CheckResult(FHost.GetDriver().Get("Disconnect").AsInt32());
    const int32_t Index = FHost.GetDriver().Get("Baudrate").AsInt32();
    if (Index < 0 || Index >= BaudRateCount)
        throw std::runtime_error("Неверный номер скорости обмена в настройках драйвера: " +
                                 std::to_string(Index) + " (допустимы 0-6)");
    Port.BaudRate = BaudRates[Index];
    Port.ComNumber = static_cast<uint32_t>(FHost.GetDriver().Get("ComNumber").AsInt32());
    Port.Timeout = static_cast<uint32_t>(FHost.GetDriver().Get("Timeout").AsInt32());

    // Clear a pending answer. The input queue is emptied first on purpose: a
    // byte that an exchange left behind when it broke off (a stopped probe, a
    // line that went quiet) would otherwise be read as the register's reply
    // to this ENQ and fail a sound register with "wrong reply code".
    Port.Open();
    Port.PurgeInput();
    Port.Write(Bytes(ENQ));
    uint8_t Reply = Port.ReadByte();
    if (Reply == ACK)
        ReadAnswer(Port);
    else if (Reply != NAK)
        RaiseWrongReply(Reply);

    // Have the register produce an answer.
    Port.Write(BuildFrame(ProbeCommand()));
    Reply = Port.ReadByte();
    if (Reply != ACK)
        RaiseWrongReply(Reply);
    ReadAnswer(Port);

    // Hold back the acknowledgement; the window stays responsive meanwhile.
    TClock& Clock = FHost.Clock();
    const uint32_t Start = Clock.GetTickCount();
    do {
        Clock.Sleep(WaitStepMs);
        FHost.ProcessMessages();
        if (FHost.Stopped())
            throw std::runtime_error("Тест прерван");
    } while (static_cast<uint32_t>(Clock.GetTickCount() - Start) <= Delay);

    // Acknowledge late and ask whether the register still holds the answer.
    Port.Write(Bytes(ACK));
    Port.Write(Bytes(ENQ));
    if (Port.ReadByte() == ACK) {
        ReadAnswer(Port);
        Port.Write(Bytes(ACK));
        throw std::runtime_error("Тест не пройден!");
    }
}

bool TTimeoutTest::TestValue(uint32_t Delay) {
    char Line[32];
    std::snprintf(Line, sizeof Line, "%-6u мс : ", Delay);
    Log(Line);
    FHost.Log().Repaint();
    FHost.ProcessMessages();
    try {
        TestTimeout(Delay);
    } catch (...) {
        AddToLastLine(FHost.TakeFailure());
        return false;
    }
    AddToLastLine("OK");
    return true;
}

void TTimeoutTest::RunFixedSeriesAndSearch() {
    SetDeviceTimeout(RaisedTimeout);
    Log(Separator);
    Log("Тест фиксированных таймаутов");
    uint32_t Delay = 10;
    bool Passed = false;
    for (int I = 0; I < 4; ++I) {
        Delay *= 10;
        Passed = TestValue(Delay);
        if (!Passed)
            break;
    }
    if (FHost.Stopped())
        return;
    if (Passed) {
        Log("Тест пройден!");
        return;
    }
    // Read now, so a change made while the series ran counts.
    if (!FHost.DetectTimeout())
        return;
    Log(Separator);
    Log("Определение максимального таймаута");
    uint32_t Hi = Delay;
    if (Hi == 100)
        return;
    uint32_t Lo = 0;
    do {
        const uint32_t Mid = Lo + (Hi - Lo) / 2;
        if (TestValue(Mid))
            Lo = Mid;
        else
            Hi = Mid;
        // Stopped on purpose without a result: after a stop every probe fails
        // at its first step without asking the register, so the bounds would
        // close onto the last delay that passed and log it as the maximum, a
        // figure nobody measured. The restore still runs.
        if (FHost.Stopped())
            return;
    } while (Hi - Lo >= 10);
    Log(Separator);
    Log("Максимальный таймаут: " + std::to_string(Lo) + " мс.");
}

void TTimeoutTest::RunTest() {
    FHost.ComPort().Close();
    FHost.SetStopped(false);
    const int32_t Saved = FHost.GetDriver().Get("Timeout").AsInt32();
    Log("Подключение к ФР");
    FHost.CheckResult(FHost.GetDriver().Get("Connect").AsInt32());

    // The restore runs however the guarded part ends, but not from a
    // destructor: its own failure must replace the earlier one, not end the
    // program.
    std::exception_ptr Failure;
    try {
        RunFixedSeriesAndSearch();
    } catch (...) {
        Failure = std::current_exception();
    }
    Log(Separator);
    SetDeviceTimeout(Saved);
    if (Failure)
        std::rethrow_exception(Failure);
}
