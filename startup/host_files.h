#pragma once
// The host's hand-off files, read once at start-up: torvane.ini (country and language lists),
// torvane.cha (the host's selection) and FirmDesc.txt (board descriptions). Each reader returns
// 0 on success and 99 on failure; a failure leaves gErrNo, gRunErrNo and gErrFileName (the
// file's full path) describing it.

#include <QByteArray>
#include <cstdint>

// Largest number of elements a host list or board table holds: counters are 16-bit.
constexpr int kMaxHostListSize = 32767;

// torvane.ini: "cntry" and "lang" lines append one word each to gCountryList / gLangList,
// "DRIVE" sets gDrive. Errors 100 (missing, bad name) and 109 (any other failure).
int16_t ReadHostIni();

// torvane.cha: "MAIN", "Fdir", "SelectedModel", "SelectedPCB". Complete when MAIN is "SET" and
// the other three are not empty. Errors 110, 111 (incomplete) and 119.
int16_t ReadHostCha();

// FirmDesc.txt: "TGBN " lines open entries 1..n of gTgbnList, "TGBNDESC" lines describe the
// latest entry in gTgbnDescList. Errors 140 and 149.
int16_t ReadFirmDesc();

// The cores of the three readers: everything after the file was read, from its bytes (lines,
// keys, values, the shared values and the error state of those steps). The readers above find
// and read the file and hand its bytes on; gFilePath and gErrFileName stay as they set them.
int16_t HostIniFromBytes(const QByteArray &bytes);
int16_t HostChaFromBytes(const QByteArray &bytes);
int16_t FirmDescFromBytes(const QByteArray &bytes);
