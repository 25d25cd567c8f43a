#pragma once

// The connection settings' one table of speeds and their bounds: the
// connection page, the settings file and tarvik-cli take them from here.

#include <QString>

#include <cstdint>
#include <iterator>

// Bit rates by speed code: code 1 is baudRates[0].
inline constexpr int32_t baudRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
inline constexpr int32_t minBAUD_CODE = 1;
inline constexpr int32_t maxBAUD_CODE = int32_t(std::size(baudRates));
inline constexpr int32_t defBAUD_CODE = maxBAUD_CODE;

// The bit rate of a speed code; a code outside the table runs at the fastest.
constexpr int32_t BaudRateOf(int32_t code) {
    return code >= minBAUD_CODE && code <= maxBAUD_CODE ? baudRates[code - 1]
                                                        : baudRates[maxBAUD_CODE - 1];
}

// Response time-out in units of 864 ms.
inline constexpr int32_t minTIMEOUT = 1;
inline constexpr int32_t maxTIMEOUT = 10;
inline constexpr int32_t defTIMEOUT = 3;
inline constexpr int32_t timeoutUnitMs = 864;

// The address the connection page accepts (its number box), and the
// addresses a Modbus slave can have, which the command line insists on.
inline constexpr int32_t minADDRESS = 0;
inline constexpr int32_t maxADDRESS = 9999;
inline constexpr int32_t minSLAVE_ADDRESS = 1;
inline constexpr int32_t maxSLAVE_ADDRESS = 247;
inline constexpr int32_t defADDRESS = 201;

// "1 = 2400, 2 = 4800, … 7 = 115200 bit/s", for the speed box and the help.
QString SpeedCodesText();
