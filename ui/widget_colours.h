#pragma once
// Back and text colours of the main window's buttons and labels, given as the window system's
// colour values 0x00BBGGRR. The colour is kept on the widget so it can be read back, and shown
// through a style sheet so that it really paints whatever the widget style.

#include "colours.h"

#include <cstdint>

class QWidget;

void SetBackColour(QWidget *widget, uint32_t bgr);
void SetForeColour(QWidget *widget, uint32_t bgr);

// The colour last set, or the given default when none was set.
uint32_t BackColour(const QWidget *widget, uint32_t fallback = 0x00C0C0C0);
uint32_t ForeColour(const QWidget *widget, uint32_t fallback = 0x00000000);
