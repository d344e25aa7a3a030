#pragma once
// Turns a program error number into the text the user sees, in the current language.

#include <QString>
#include <cstdint>

// The message for error number n, lines joined by CR LF: the main text, the "ErrNo" line of a
// run-time failure for numbers outside the table and for 118 (the result could not be handed
// back), and the file-name line when gErrFileName is set. Reads gLangBase, gRunErrNo, gErrFileName,
// gErrKey, gFlashCheckSum and gObtainedCheckSum.
QString GetErrorMessage(int16_t n);

// The text of the error window's message label: GetErrorMessage(gErrNo), followed by an empty
// line and the step name when gFuncName is set.
QString ErrorWindowText();

// The caption of the error window's code label: "E" and gErrNo.
QString ErrorCodeText();
