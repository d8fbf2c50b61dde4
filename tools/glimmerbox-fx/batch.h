// SPDX-License-Identifier: GPL-3.0-or-later
// Batch work of glimmerbox-fx: many inputs into one folder, each in a
// worker process of its own.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct BatchRequest {
    std::vector<std::string> Inputs;
    std::string OutDir;
    std::string Extension; // of every output, without the dot
    int Jobs = 1;          // worker processes at a time, at least 1
    bool Force = false;    // replace outputs that are already there
};

// The output for each input: OutDir / the input's name without its
// extension, then "." + Extension.
std::string BatchOutputName(const BatchRequest &request, const std::string &input);

// Processes every input into its output with processOne, which runs in a
// forked worker process, returns the tool's exit status for that file and
// prints its reasons for a failure (or its warnings) on standard error. At
// most Jobs workers run at once; a failed file does not stop the others.
//
// Before any work: OutDir is created when missing (failure: exit 1, nothing
// done). A file that would be its own output (the same file or the same
// name, Force or not), whose output is already there (without Force), or
// whose output another input of this run already claims, fails without
// being processed. The caller makes the writers replace a link in OutDir
// rather than follow it (ReplaceLinksAsNames). Reports one line per file:
// "INPUT -> OUTPUT" on standard output for a written one, "glimmerbox-fx:
// INPUT: reason" on standard error for a failed one (and for a written
// one's warning); when standard error is a terminal the written ones show
// as a progress bar there instead. Returns 0 when every file was written, 1
// otherwise; on SIGINT, SIGTERM or SIGHUP the running workers are ended
// (their targets left as they were), every file that ended is reported,
// then how many were written, and 128 + the signal's number is returned.
int RunBatch(const BatchRequest &request,
             const std::function<int(const std::string &, const std::string &)> &processOne);

// The number of processors online, at least 1: the default of -j.
int DefaultJobs();
