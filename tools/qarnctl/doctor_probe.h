#pragma once
// The probe of qarnctl doctor: the bit-rate adjustment alone, on port gPort with the line
// settings of the description read last. It sends nothing but the 00 pattern: no 55, no
// kernel, nothing that touches the flash.

#include <QString>

struct ProbeResult {
    bool ok = false;
    QString found;  // whether and how the boot program answered, at which bit rate, how soon
    QString advice; // what to do; always ends with restarting the device in boot mode
};

ProbeResult ProbeBootProgram();
