#pragma once
// Standard output and standard error of a run, written in order by a thread of their own: a
// reader that stops reading (a terminal held with Ctrl-S, a pipe that nobody empties) holds up
// that thread, never the download. While the reader stands, progress beyond a bound is dropped
// (the outcome and the errors never are), and text that can no longer be written at all (the
// reader went away) is dropped without a word.

#include <QByteArray>
#include <chrono>
#include <cstdio>

// Queues `text` for `stream` (stdout or stderr); `progress` may be dropped. false when it was.
bool Say(std::FILE *stream, const QByteArray &text, bool progress = false);
// Waits until everything said has been written or dropped, or `limit` has passed (no limit when
// negative).
void FinishSaying(std::chrono::milliseconds limit = std::chrono::milliseconds(-1));

// The system's side of the streams.

// Readies standard output and standard error for the process's life: a reader that goes away
// makes writes fail, and nothing more.
void PrepareStandardStreams();
// Puts back what PrepareStandardStreams() changed beyond the process.
void RestoreStandardStreams();
// Whether standard error is a terminal, where progress is drawn as a bar.
bool StandardErrorIsTerminal();
// The width of the terminal on standard error in columns; 0 when it tells none.
int StandardErrorColumns();
// Readies the terminal on standard error for lines redrawn in place (the cursor moved up by
// escape sequences) for the process's life; false where it takes none.
bool EnableCursorMovement();
// Writes all of `text` to `stream` (stdout or stderr) on the calling thread; returns once it has
// been written, or once the stream has failed (the reader went away), the rest dropped.
void WriteWhole(std::FILE *stream, const QByteArray &text);
