// The stand-in driver over a real pseudo-terminal to the emulator, and the
// automation layer's texts as the program shows them.
#include "Failure.h"
#include "TempPortFolder.h"
#include "VirtualRegister.h"
#include "untPtyRegister.h"

#include <gtest/gtest.h>

namespace {

class StandInDriver : public ::testing::Test {
protected:
    void SetUp() override {
        Store->Settings = {5, 2, 150};
        Driver = std::make_unique<TStandInDriver>(Store, [this](TStandInSettings& S) {
            S.ComNumber = 9;
            return DialogAccepts;
        });
    }
    void TearDown() override { Register.reset(); }
    void StartRegister(emu::TRegisterOptions Options = {}) {
        Register = std::make_unique<emu::TPtyRegister>(Options, Ports.Com(5).string());
    }
    int32_t Call(const std::string& Name) { return Driver->Invoke(Name).AsInt32(); }
    std::string Description() { return Driver->Invoke("ResultCodeDescription").AsString(); }

    TTempPortFolder Ports{"ormant-standin-"};
    std::unique_ptr<emu::TPtyRegister> Register;
    std::shared_ptr<TMemoryStore> Store = std::make_shared<TMemoryStore>();
    bool DialogAccepts = true;
    std::unique_ptr<TStandInDriver> Driver;
};

TEST_F(StandInDriver, SetsTheRegistersTimeoutOverTheLineAndGivesTheLineBack) {
    emu::TRegisterOptions Capped;
    Capped.MaxTimeout = 2000;
    StartRegister(Capped);
    EXPECT_EQ(Call("Connect"), 0);
    Driver->Put("Timeout", 100000);
    EXPECT_EQ(Call("SetExchangeParam"), 0);
    EXPECT_EQ(Register->RequestedTimeout(), 100000u);
    EXPECT_EQ(Register->ExchangeTimeout(), 2000u);
    EXPECT_EQ(Call("Disconnect"), 0);
    EXPECT_EQ(Call("Disconnect"), 0); // also when not connected

    // Without Connect: connected for the call only, then the port is free.
    Driver->Put("Timeout", 150);
    EXPECT_EQ(Call("SetExchangeParam"), 0);
    EXPECT_EQ(Register->RequestedTimeout(), 150u);
    TComPort Port;
    Port.ComNumber = 5;
    Port.BaudRate = 9600;
    EXPECT_NO_THROW(Port.Write(""));
    EXPECT_EQ(Store->Settings.Timeout, 150); // kept in its settings
}

TEST_F(StandInDriver, FailuresAreCodesWithDescriptions) {
    EXPECT_EQ(Call("Connect"), -2); // no register, no port
    EXPECT_EQ(Description(), "СOM порт не доступен");

    emu::TRegisterOptions Silent;
    Silent.Fault = emu::TFault::Silence;
    StartRegister(Silent);
    EXPECT_EQ(Call("Connect"), -1);
    EXPECT_EQ(Description(), "Нет связи");
    EXPECT_EQ(Call("SetExchangeParam"), -1);
    Register.reset();

    emu::TRegisterOptions Garbled;
    Garbled.Fault = emu::TFault::BadChecksum;
    StartRegister(Garbled);
    EXPECT_EQ(Call("Connect"), -4);
    EXPECT_EQ(Description(), "Неверный ответ ФР: неверная контрольная сумма");
    Register.reset();

    StartRegister();
    Driver->Put("Timeout", -1);
    EXPECT_EQ(Call("SetExchangeParam"), -6);
    Driver->Put("Baudrate", 7);
    EXPECT_EQ(Call("Connect"), -5);
    EXPECT_EQ(Description(), "Неверный номер скорости обмена: 7");
    Driver->Put("Baudrate", 2);
    EXPECT_EQ(Call("Connect"), 0);
    EXPECT_EQ(Description(), "Ошибок нет");
}

TEST_F(StandInDriver, PropertiesDialogSavesOnlyWhenConfirmed) {
    DialogAccepts = false;
    EXPECT_EQ(Call("ShowProperties"), 0);
    EXPECT_EQ(Call("ComNumber"), 5);
    DialogAccepts = true;
    EXPECT_EQ(Call("ShowProperties"), 0);
    EXPECT_EQ(Call("ComNumber"), 9);
    EXPECT_EQ(Store->Settings.ComNumber, 9);
    EXPECT_THROW(Driver->Invoke("Beep"), EOleError);
}

TEST(Automation, DriverHolderCreatesOnceAndRetriesAfterAFailedCreation) {
    TDriverHolder Holder;
    EXPECT_STREQ(FailureOf<EOleError>([&] { Holder.GetDriver(); }).what(),
                 "Недопустимая строка с указанием класса (0x800401F3 "
                 "CO_E_CLASSSTRING): \"Addin.Ormant\"");
    int Created = 0;
    auto Store = std::make_shared<TMemoryStore>();
    RegisterAutoClass(DriverProgId, [&] {
        ++Created;
        return std::make_shared<TStandInDriver>(Store, nullptr);
    });
    Holder.GetDriver();
    Holder.GetDriver().Put("Timeout", 7);
    EXPECT_EQ(Created, 1);
    EXPECT_EQ(Store->Settings.Timeout, 7);

    Holder.CheckResult(0);
    Holder.GetDriver().Put("Baudrate", 9);
    const int32_t Code = Holder.GetDriver().Get("Connect").AsInt32();
    EXPECT_STREQ(FailureOf<std::runtime_error>([&] { Holder.CheckResult(Code); }).what(),
                 "Ошибка драйвера: (-5) Неверный номер скорости обмена: 9");
    UnregisterAutoClass(DriverProgId);
}

} // namespace
