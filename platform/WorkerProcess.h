#pragma once

#include "Result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

// A helper program of ours, started once and given many pieces of work, spoken to in frames over its standard
// input and output: a kind byte, a 32-bit little-endian length, then that many bytes. A page that crashes or
// exhausts the helper takes only the helper with it, never the program that started it.
//
// One thread at a time may use a worker; it may be handed from thread to thread between uses.
class WorkerProcess
{
public:
    // How a worker that stopped answering ended.
    struct End
    {
        bool signaled = false; // killed by a signal (code is the signal) rather than exited (code is the status);
                               // on Windows, ended by an exception (code is the exception's code)
        int code = 0;
    };
    // How a worker ended, in words that follow "the parser": "stopped with signal 9, Killed", "stopped with status
    // 5"; on Windows an exception by its code and name, and the status ending a program from outside leaves.
    static QString Describe(const End& end);

    // Starts the program with the arguments. The worker learns this program's process number as the argument
    // after "--parent", which is added to the arguments. On Linux the worker ends when the thread that started it
    // ends (that is how it learns of its parent's end), so start workers from a thread that lasts.
    static Result<std::unique_ptr<WorkerProcess>> start(const QString& program, const QStringList& arguments);
    // Ends the worker at once if it is still there.
    ~WorkerProcess();
    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;

    // False once the worker has gone.
    bool send(char kind, const QByteArray& payload);
    // Waits for the next whole frame; false once the worker has gone.
    bool receive(char& kind, QByteArray& payload);
    // The same without a copy: the payload is valid until the next receive.
    bool receive(char& kind, QByteArrayView& payload);
    // The same for at most patience (zero or less: for ever): a worker that has not sent the whole frame by then is
    // making no progress. It is left as it is, for the caller to end.
    enum class Received
    {
        Frame,
        Gone,
        TimedOut,
    };
    Received receive(char& kind, QByteArrayView& payload, std::chrono::milliseconds patience);
    // Whether the worker has already ended (been killed, say) without waiting for it.
    bool hasEnded();
    // After a failed send or receive: waits for the worker to end and tells how it did.
    End end();
    // Ends the worker at once.
    void kill();
    // Ends the worker with that process number from any thread, while the thread using it may be waiting for its
    // answer (which then fails as if the worker had crashed). Where the system gives no such way, the worker is left
    // to finish its piece of work.
    static void Interrupt(qint64 processId);
    // Ends every worker this program has running at once. Safe in a signal handler: a program stopped by the user
    // need not wait for the pages its workers are reading.
    static void InterruptAll();
    qint64 processId() const;

    class Connection;

private:
    explicit WorkerProcess(std::unique_ptr<Connection> connection);
    std::unique_ptr<Connection> m_connection;
};

// The worker's side: frames over its own standard input and output.
namespace WorkerChannel {

// Waits for the next request; false at the end of input (the program that started the worker has gone or is done).
bool receive(char& kind, QByteArray& payload);
// Queues a reply; flush() sends what is queued.
void send(char kind, const QByteArray& payload);
bool flush();

// Limits the worker's memory (its address space on Linux), so that a page that needs more makes allocations fail
// in the worker instead of exhausting the machine; false when the system refused the limit.
bool LimitMemory(qint64 bytes);
// Ends the worker along with the program that started it (whose process number is parent), however that program
// ends; ends it now if that program has gone already.
void EndWithParent(qint64 parent);

} // namespace WorkerChannel
