#pragma once

#include <QStringList>

// The worker's side of WorkerProtocol: answers requests on standard input and output until the input ends, parsing
// pages in this process with the program's own extraction. arguments are the worker's command-line arguments after
// its mode switch ("--parent PID" and "--memory-limit BYTES" among them). Returns the exit status.
//
// quillory-worker is this and nothing else; quillory-extract serves the same when started with --document-worker,
// so that the one program is all a machine needs to run batches.
int ServeDocuments(const QStringList& arguments);
