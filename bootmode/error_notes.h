#pragma once
// What the system's error text cannot say: the file that is missing (its texts name the
// description), a port that went away under a step (which reads as a time-out), and a step's own
// account of why it gave up. qarnctl and the trace add these lines after the system's text.

#include <QString>
#include <QStringList>

// The lines for the error state as it stands (gErrNo, gRunErrNo, the description's files) and
// the causes the run noted; empty when there is nothing to add.
QStringList ErrorNotes();

// A step's own account of the failure under way, kept until the next run starts.
void NoteFailureCause(const QString &line);
// Forgets the causes noted by an earlier run.
void ClearFailureCauses();
