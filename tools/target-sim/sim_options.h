#pragma once
// Command line of qarn-target-sim: the target's make-up, its timing and its faults.

#include "target_sim.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace targetsim {

struct SimOptions {
    SimConfig config;
    QString link;             // where the pseudo-terminal's slave is linked, e.g. DIR/COM1
    QString saveFlash;        // flash image written here at the end ("" = not saved)
    QString record;           // every byte received from the host is appended here ("" = none)
    QString steps;            // the name of every step the target takes up ("" = none)
    bool once = false;        // end after one download (flash sum answered, or a fault ended it)
    bool serve = false;       // a fresh target for the next download once one has ended
    bool pace = false;        // every byte takes its time on the wire (10 bits at the line's speed)
    int adapterLatencyMs = 0; // the target's bytes wait in a USB adapter's chip (0 = no adapter)
    double clockErrorPct = 0; // the chip's clock against the host's, in percent (-5: 5 % slow)
    bool echoReport = false;  // print the kernel transfer's time and the host's reaction
    bool help = false;
    bool version = false;
};

// The --help text, generated from the option list, including the wire exchanges and checksum
// definitions.
QString usageText();

// Parses the arguments after the program name. nullopt with `error` set on a bad option.
std::optional<SimOptions> parseSimOptions(const QStringList &args, QString &error);

} // namespace targetsim
