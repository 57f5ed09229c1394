#include "VirtualRegister.h"

#include "fmuMainControls.h"
#include "untError.h"
#include "untReadTimer.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

TVirtualRegister::TVirtualRegister(emu::TRegisterOptions Options, uint32_t TickOffset)
    : Core(Options), FTickOffset(TickOffset) {
    Core.SetLog([this](uint64_t, const std::string& Line) { Log.push_back(Line); });
}

std::optional<emu::TLogLine> TVirtualRegister::LastAck() const {
    for (auto Line = Log.rbegin(); Line != Log.rend(); ++Line)
        if (auto L = emu::ParseLogLine(*Line); L && (L->Sentence == emu::TSentence::AckInTime ||
                                                     L->Sentence == emu::TSentence::AckLate))
            return L;
    return std::nullopt;
}

void TVirtualRegister::Advance(uint64_t Ms) {
    Now += Ms;
    Core.Advance(Now);
}

void TVirtualRegister::HostWrites(const std::string& Bytes) {
    std::string Out = Core.Receive(Bytes, Now);
    if (auto It = Replies.find(Bytes); It != Replies.end())
        Out = It->second;
    Input += Out;
}

void TVirtualLine::Open() {
    if (FOpen)
        return;
    FOpen = true;
    FTimeout = Timeout;
    ++Opens;
}

void TVirtualLine::Write(const std::string& Data) {
    Open();
    if (FRegister.Unplugged)
        throw EOSError(5, "Ошибка ввода-вывода");
    Written += Data;
    FRegister.HostWrites(Data);
}

void TVirtualLine::Read(uint32_t Count, std::string& Data) {
    Data.clear();
    if (Count == 0)
        return;
    if (!FOpen)
        throw std::logic_error("read from a closed line");
    std::string& In = FRegister.Input;
    TReadTimer Timer(FTimeout, Count, FRegister.Now);
    TSlicedWait Wait(WaitSliceMs());
    std::size_t Seen = 0;
    for (;;) {
        if (In.size() > Seen)
            Timer.Received(FRegister.Now);
        Seen = In.size();
        const auto Asked = Wait.Next(Timer.WaitLeft(FRegister.Now));
        if (!Asked)
            break;
        // A wait finds bytes that are there at once, unless the process is
        // frozen in it.
        const bool Ready = In.size() >= Count;
        FRegister.Advance((Ready ? 0 : *Asked) + std::exchange(FRegister.Frozen, 0));
        AfterWait(*Asked, Wait.Ended(Ready, Timer.WaitLeft(FRegister.Now)));
        if (Ready) {
            Data = In.substr(0, Count);
            In.erase(0, Count);
            return;
        }
    }
    In.clear();
    RaiseNoLink();
}

void TVirtualLine::PurgeInput() {
    if (FOpen)
        FRegister.Input.clear();
}

TAutoServer& TScriptedDriver::Inner() {
    if (!FInner)
        FInner = FMakeInner();
    return *FInner;
}

TAutoValue TScriptedDriver::Invoke(const std::string& Name) {
    Calls.push_back(Name);
    if (Name == dmResultCodeDescription && !FForcedDescription.empty())
        return FForcedDescription;
    FForcedDescription.clear();
    if (auto It = Forced.find(Name); It != Forced.end() && !It->second.empty()) {
        const int32_t Code = It->second.front();
        It->second.pop_front();
        if (Code != 0) {
            FForcedDescription = "Сбой " + Name;
            return Code;
        }
    }
    return Inner().Invoke(Name);
}

void TScriptedDriver::Put(const std::string& Name, const TAutoValue& Value) {
    Calls.push_back(Name + "=" + Value.AsString());
    Inner().Put(Name, Value);
}

TVirtualRig::TVirtualRig(emu::TRegisterOptions Options, uint32_t TickOffset)
    : Register(Options, TickOffset) {
    Driver = std::make_shared<TScriptedDriver>([this] {
        return std::make_shared<TStandInDriver>(
            Store, [this](TSettingTexts& Settings) { return Dialog && Dialog(Settings); },
            std::make_unique<TVirtualLine>(Register));
    });
    RegisterAutoClass(DriverProgId, [this] {
        ++Creations;
        return Driver;
    });
}

TVirtualRig::~TVirtualRig() {
    UnregisterAutoClass(DriverProgId);
}

void TTestView::EnableControl(TControlId Control, bool Enabled) {
    Trace.push_back((Enabled ? "enable " : "disable ") + std::string(ControlSpec(Control).Name));
}

void TTestView::FocusControl(TControlId Control) {
    Trace.push_back("focus " + std::string(ControlSpec(Control).Name));
}

void TTestView::ShowProgress(TRunProgress P, uint32_t Done, uint32_t Total) {
    const char* const States[] = {"none", "wait", "hold", "failed"};
    std::string Entry = States[static_cast<int>(P)];
    if (P == TRunProgress::Holding)
        Entry += " " + std::to_string(Done) + "/" + std::to_string(Total);
    if (Progress.empty() || Progress.back() != Entry)
        Progress.push_back(Entry);
}
