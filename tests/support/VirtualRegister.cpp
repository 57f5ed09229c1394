#include "VirtualRegister.h"

#include "fmuMainControls.h"
#include "untError.h"
#include "untReadTimer.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

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
    std::size_t Seen = 0;
    for (;;) {
        if (In.size() > Seen)
            Timer.Received(FRegister.Now);
        Seen = In.size();
        const uint64_t Left = Timer.WaitLeft(FRegister.Now);
        const uint64_t Asked = WaitSliceMs() ? std::min<uint64_t>(Left, WaitSliceMs()) : Left;
        // A wait finds bytes that are there at once, unless the process is
        // frozen in it.
        const bool Ready = In.size() >= Count;
        FRegister.Advance((Ready ? 0 : Asked) + std::exchange(FRegister.Frozen, 0));
        const bool Idle = !Ready && Asked < Left;
        AfterWait(Asked, Idle);
        if (Ready) {
            Data = In.substr(0, Count);
            In.erase(0, Count);
            return;
        }
        if (!Idle)
            break;
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
