#pragma once
// The line settings text of the serial port, "9600,N,8,1": bit rate, parity letter, data bits
// and stop bits joined by ",".

#include <QString>

struct LineSettings {
    int bitRate = 9600;
    char parity = 'N'; // N, O, E, M or S
    int dataBits = 8;  // 5 to 8
    int stopBits = 1;  // 1, 2, or 15 for one and a half
};

// Returns 0, or failure code 5 (invalid argument) when the text is not four such fields.
int ParseLineSettings(const QString &text, LineSettings &settings);
