#include "untFrames.h"

#include "untComPort.h"

#include <stdexcept>

uint8_t FrameChecksum(const std::string& S) {
    uint8_t Sum = 0;
    for (char C : S)
        Sum ^= static_cast<uint8_t>(C);
    return Sum;
}

std::string BuildFrame(const std::string& Data) {
    if (Data.size() > MaxFrameData)
        throw std::length_error("Сообщение длиной " + std::to_string(Data.size()) +
                                " байт не помещается в кадр (не более 255 байт)");
    std::string Body(1, static_cast<char>(Data.size()));
    Body += Data;
    std::string Frame(1, static_cast<char>(STX));
    Frame += Body;
    Frame += static_cast<char>(FrameChecksum(Body));
    return Frame;
}

std::string ReadFrame(TSerialLine& Port, bool StopWithoutStx) {
    std::string Frame, Rest;
    Port.Read(2, Frame);
    if (StopWithoutStx && static_cast<uint8_t>(Frame[0]) != STX)
        return Frame;
    Port.Read(static_cast<uint8_t>(Frame[1]) + 1u, Rest);
    return Frame + Rest;
}

void ReadAnswer(TSerialLine& Port) {
    ReadFrame(Port);
}

uint8_t ExpectedChecksum(const std::string& Frame) {
    return FrameChecksum(Frame.substr(1, Frame.size() - 2));
}

bool ChecksumMatches(const std::string& Frame) {
    return ExpectedChecksum(Frame) == static_cast<uint8_t>(Frame.back());
}

std::string FrameData(const std::string& Frame) {
    return Frame.substr(2, Frame.size() - 3);
}

THeldAnswer AskForHeldAnswer(TSerialLine& Port, bool StopWithoutStx) {
    Port.PurgeInput();
    Port.Write(ControlByte(ENQ));
    const uint8_t Reply = Port.ReadByte();
    return {Reply, Reply == ACK ? ReadFrame(Port, StopWithoutStx) : std::string()};
}
