// Sequence files: a test sequence as sectioned text (core/inifile), read and
// saved as the parameter files are (atomic save, the 1 MiB limit), in the
// window's units with "." as the decimal point:
//
//   [Sequence]
//   Repeat=1              ; 1 to 1000000; 1 when missing
//   End=Outputs off       ; the state set when the run ends or is stopped;
//                         ; missing: the settings from before the run
//   [State Prefault]      ; one section per state, in the order they run
//   Duration=2000         ; milliseconds, or manual
//   mode=A.B.C
//   A freq=50
//   A ampl=10
//   [State Pickup]
//   Duration=manual
//   A freq=50 to 47 step -0.05 every 100
//
// A state sets the keys it names ("mode" and "A freq" to "C ampl", any letter
// case); a key that it leaves out or leaves empty stays as the state before
// left it. State names are UTF-8 text (a file that is not UTF-8 is read as
// Latin-1). Reading refuses the whole file, with its line and the reason, for
// anything it does not understand, so that nothing of a misread sequence is
// ever sent.
#pragma once

#include "exception.h"
#include "inifile.h"
#include "sequence.h"

// A sequence file refused for its content: the message names the file, the
// line (0 when the fault is the file's as a whole) and the reason.
class ESequenceRefused : public Exception {
public:
    ESequenceRefused(const QString &path, int line, const QString &reason);

    int Line() const { return line_; }
    const QString &Reason() const { return reason_; }

private:
    int line_;
    QString reason_;
};

// The sequence a file holds, checked as CheckSequence checks it. Throws
// ESequenceRefused; path names the file in the message.
Sequence ReadSequence(const SectionedText &file, const QString &path);
// Reads a file the operator names: a missing one, one that cannot be read
// and one above 1 MiB throw EFOpenError; one refused for its content
// ESequenceRefused.
Sequence LoadSequenceFile(const QString &path);

// The file's text of a sequence.
SectionedText WriteSequence(const Sequence &sequence);
// Saves a sequence that CheckSequence accepts (Exception with the reason
// otherwise, nothing written); EFCreateError when the file cannot be written.
void SaveSequenceFile(const QString &path, const Sequence &sequence);
