// The master's reply path under fuzzing: the input is the slave's answer,
// given in turn to a read, a single write and a multiple write of one master.
//
// Input layout:
//   byte 0     bit 0: seal the answer with its correct CRC, so that the checks
//              behind the CRC are reached; bit 1: fast read
//   byte 1     slave address of the requests
//   byte 2     register count: 1 + b % 125 for the read, 1 + b % 123 for the
//              multiple write
//   bytes 3-4  start register address (high byte first)
//   bytes 5-6  value of the single write
//   the rest   the answer, the same for the three transactions
//
// The line ends the frame as soon as the answer is used up instead of waiting
// for real silence. Every frame must be taken exactly when it is the right
// one: a success brings exactly the frame's words, a refusal changes nothing.
#include "fuzz_check.h"
#include "u_modbus.h"

#include <algorithm>
#include <vector>

namespace {

using tBytes = std::vector<uint8_t>;

// CRC-16/MODBUS written out apart from the master's, so that a fault in that
// one cannot hide itself.
uint16_t referenceCrc(const tBytes &bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

tBytes sealed(tBytes frame) {
    const uint16_t crc = referenceCrc(frame);
    frame.push_back(uint8_t(crc));
    frame.push_back(uint8_t(crc >> 8));
    return frame;
}

bool crcHolds(const tBytes &frame) {
    if (frame.size() < 3)
        return false;
    const tBytes body(frame.begin(), frame.end() - 2);
    return sealed(body) == frame;
}

// The far end: takes the request, then hands out the answer byte by byte and
// reports the line lost once it is used up.
struct tLine {
    tBytes request;
    tBytes answer;
    size_t next = 0;
    bool sent = false;

    bool give(uint8_t &c) {
        if (!sent || next >= answer.size())
            return false;
        c = answer[next++];
        return true;
    }
};

// The bytes the master takes for the answer's frame: with fast read, the
// length the request calls for (5 for an exception) once it is in with a valid
// CRC; otherwise, and with fast read when that does not happen, everything
// until the line falls silent.
tBytes frameOf(const tBytes &answer, size_t expected, bool fast) {
    if (fast && answer.size() >= 2) {
        const size_t length = (answer[1] & 0x80) ? 5 : expected;
        const tBytes prefix(answer.begin(), answer.begin() + std::min(length, answer.size()));
        if (prefix.size() == length && crcHolds(prefix))
            return prefix;
    }
    return answer;
}

// The master stops reading where its frame ends: the rest of a longer answer
// stays on the line for the purge.
void expectTaken(const tLine &line, const tBytes &frame) {
    if (frame.size() < line.answer.size() && frame.size() <= 256)
        FUZZ_CHECK(line.next == frame.size(), "read %zu bytes of a frame of %zu", line.next,
                   frame.size());
}

void expectRequest(const tLine &line, const tBytes &body) {
    FUZZ_CHECK(line.request == sealed(body), "request of %zu bytes is not the one built",
               line.request.size());
}

// What any refused answer may give: a frame error or an exception code.
void expectRefusal(int32_t result, const tBytes &answer) {
    FUZZ_CHECK(result < 0 && result >= -255, "result %d", result);
    if (answer.empty())
        FUZZ_CHECK(result == errMODBUS_TIMEOUT, "no answer gave %d", result);
    else if (answer.size() < 3)
        FUZZ_CHECK(result == errMODBUS_NORESPONSE, "%zu bytes gave %d", answer.size(), result);
    else if (answer.size() > 256)
        FUZZ_CHECK(result == errMODBUS_BUFFER_OVERFLOW, "%zu bytes gave %d", answer.size(), result);
    else if (!crcHolds(answer))
        FUZZ_CHECK(result == errMODBUS_CRC, "a bad CRC gave %d", result);
}

// A well-formed exception answer gives minus its code.
void expectException(int32_t result, const tBytes &answer, uint8_t slave, uint8_t function) {
    if (answer.size() == 5 && crcHolds(answer) && answer[0] == slave &&
        answer[1] == (function | 0x80) && answer[2] != 0)
        FUZZ_CHECK(result == -int32_t(answer[2]), "exception %d gave %d", answer[2], result);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    constexpr size_t header = 7;
    if (size < header)
        return 0;
    const bool seal = data[0] & 1;
    const bool fast = data[0] & 2;
    const uint8_t slave = data[1];
    const int32_t readCount = 1 + data[2] % maxREAD_REGS;
    const int32_t writeCount = 1 + data[2] % maxWRITE_REGS;
    const uint8_t addrHi = data[3], addrLo = data[4];
    const int32_t addr = 256 * addrHi + addrLo;
    const uint16_t value = uint16_t(256 * data[5] + data[6]);
    const tBytes given(data + header, data + size);
    const tBytes answer = seal ? sealed(given) : given;

    tLine line;
    tModBus master(
        [&line, &answer](const uint8_t *buffer, int32_t n) {
            line.request.assign(buffer, buffer + n);
            line.answer = answer;
            line.next = 0;
            line.sent = true;
            return n;
        },
        [&line](uint8_t &c) { return line.give(c); }, [] {});
    master.PortLost = [&line] { return line.next >= line.answer.size(); };
    master.SetFastRead(fast);

    // Read: success exactly for the right frame, which brings its words.
    {
        std::vector<uint16_t> regs(maxREAD_REGS, 0xDEAD);
        const int32_t result = master.Read_Registers(slave, addr, regs.data(), readCount);
        expectRequest(line,
                      {slave, 3, addrHi, addrLo, uint8_t(readCount >> 8), uint8_t(readCount)});
        const tBytes frame = frameOf(answer, size_t(5 + 2 * readCount), fast);
        expectTaken(line, frame);
        const bool right = frame.size() == size_t(5 + 2 * readCount) && crcHolds(frame) &&
                           frame[0] == slave && frame[1] == 3 && frame[2] == 2 * readCount;
        if (right) {
            FUZZ_CHECK(result == readCount, "a right read answer gave %d", result);
            for (int32_t i = 0; i < readCount; ++i)
                FUZZ_CHECK(regs[size_t(i)] ==
                               256 * frame[size_t(3 + 2 * i)] + frame[size_t(4 + 2 * i)],
                           "register %d is 0x%X", i, regs[size_t(i)]);
        } else {
            expectRefusal(result, frame);
            expectException(result, frame, slave, 3);
        }
        if (result < 0)
            FUZZ_CHECK(
                std::all_of(regs.begin(), regs.end(), [](uint16_t r) { return r == 0xDEAD; }),
                "a refused read changed the registers");
        FUZZ_CHECK(std::all_of(regs.begin() + readCount, regs.end(),
                               [](uint16_t r) { return r == 0xDEAD; }),
                   "the read wrote past its count");
    }

    // Single write: success exactly for its echo.
    {
        const tBytes request = {slave, 6, addrHi, addrLo, uint8_t(value >> 8), uint8_t(value)};
        const int32_t result = master.Write_Register(slave, addr, value);
        expectRequest(line, request);
        const tBytes frame = frameOf(answer, 8, fast);
        expectTaken(line, frame);
        if (frame == sealed(request))
            FUZZ_CHECK(result == 1, "the right echo gave %d", result);
        else {
            expectRefusal(result, frame);
            expectException(result, frame, slave, 6);
        }
    }

    // Multiple write: success exactly for the echo of address and quantity.
    {
        std::vector<uint16_t> regs(static_cast<size_t>(writeCount), 0);
        tBytes request = {slave,
                          16,
                          addrHi,
                          addrLo,
                          uint8_t(writeCount >> 8),
                          uint8_t(writeCount),
                          uint8_t(2 * writeCount)};
        for (int32_t i = 0; i < writeCount; ++i) {
            regs[size_t(i)] = uint16_t(value + 0x0101 * i);
            request.push_back(uint8_t(regs[size_t(i)] >> 8));
            request.push_back(uint8_t(regs[size_t(i)]));
        }
        const int32_t result = master.Write_Registers(slave, addr, regs.data(), writeCount);
        expectRequest(line, request);
        const tBytes frame = frameOf(answer, 8, fast);
        expectTaken(line, frame);
        const tBytes echo(request.begin(), request.begin() + 6);
        if (frame == sealed(echo))
            FUZZ_CHECK(result == 1, "the right echo gave %d", result);
        else {
            expectRefusal(result, frame);
            expectException(result, frame, slave, 16);
        }
    }
    return 0;
}
