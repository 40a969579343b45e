#include "WorkerProcess.h"

#include "FileNames.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif
extern char** environ;
#else
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <mutex>
#include <string>
#endif

namespace {

constexpr qsizetype kHeaderBytes = 5;

QByteArray header(char kind, qsizetype length)
{
    QByteArray bytes(kHeaderBytes, Qt::Uninitialized);
    bytes[0] = kind;
    const quint32 size = quint32(length);
    for (int i = 0; i < 4; ++i)
        bytes[1 + i] = char((size >> (8 * i)) & 0xFF);
    return bytes;
}

// Bytes read from a worker at a time, straight into the buffer that frames are taken from.
constexpr qsizetype kReadBytes = 65536;

// Takes one whole frame off the front of buffered bytes, if they hold one. The payload is a view into buffered that
// stays valid until the next call, or until more bytes are added to buffered.
bool takeFrame(QByteArray& buffered, qsizetype& start, char& kind, QByteArrayView& payload)
{
    // The bytes of frames already taken are dropped once they are most of the buffer; not before, so that the
    // payload the last call gave stays where it was until now.
    if (start > 65536 && start * 2 > buffered.size()) {
        buffered.remove(0, start);
        start = 0;
    }
    if (buffered.size() - start < kHeaderBytes)
        return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffered.constData() + start);
    const qsizetype length =
        qsizetype(bytes[1]) | qsizetype(bytes[2]) << 8 | qsizetype(bytes[3]) << 16 | qsizetype(bytes[4]) << 24;
    if (buffered.size() - start - kHeaderBytes < length)
        return false;
    kind = char(bytes[0]);
    payload = QByteArrayView(buffered.constData() + start + kHeaderBytes, length);
    start += kHeaderBytes + length;
    return true;
}

bool takeFrame(QByteArray& buffered, qsizetype& start, char& kind, QByteArray& payload)
{
    QByteArrayView view;
    if (!takeFrame(buffered, start, kind, view))
        return false;
    payload = view.toByteArray();
    return true;
}

// Room for kReadBytes more at the end of buffered, for a read to fill; the caller gives back what it did not fill.
char* readRoom(QByteArray& buffered)
{
    const qsizetype size = buffered.size();
    buffered.resize(size + kReadBytes);
    return buffered.data() + size;
}

using Clock = std::chrono::steady_clock;

// What is left until deadline, in whole milliseconds rounded up (a wait that ends early only waits again), and never
// less than none.
int millisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(std::clamp<qint64>(left, 0, std::numeric_limits<int>::max()));
}

#ifdef Q_OS_UNIX
using ProcessNumber = pid_t;
#else
using ProcessNumber = DWORD;
#endif

// The workers running, for InterruptAll: plain atomic slots, which a signal handler (or a console's Ctrl+C handler)
// may read.
constexpr int kRunningSlots = 1024;
std::atomic<ProcessNumber> g_running[kRunningSlots];

void noteRunning(ProcessNumber process)
{
    for (std::atomic<ProcessNumber>& slot : g_running) {
        ProcessNumber empty = 0;
        if (slot.compare_exchange_strong(empty, process))
            return;
    }
}

void noteEnded(ProcessNumber process)
{
    for (std::atomic<ProcessNumber>& slot : g_running) {
        ProcessNumber expected = process;
        if (slot.compare_exchange_strong(expected, 0))
            return;
    }
}

} // namespace

#ifdef Q_OS_UNIX

class WorkerProcess::Connection
{
public:
    Connection(pid_t process, int socket) : m_process(process), m_socket(socket) { noteRunning(process); }
    ~Connection()
    {
        kill();
        reap(true);
    }

    bool send(char kind, const QByteArray& payload)
    {
        return sendAll(header(kind, payload.size())) && sendAll(payload);
    }

    Received receive(char& kind, QByteArrayView& payload, std::chrono::milliseconds patience)
    {
        const Clock::time_point deadline = Clock::now() + patience;
        while (!takeFrame(m_buffered, m_start, kind, payload)) {
            if (m_socket < 0)
                return Received::Gone;
            if (patience.count() > 0) {
                pollfd ready{m_socket, POLLIN, 0};
                const int polled = ::poll(&ready, 1, millisecondsLeft(deadline));
                if (polled < 0 && errno == EINTR)
                    continue;
                if (polled == 0)
                    return Received::TimedOut;
            }
            char* const room = readRoom(m_buffered);
            const ssize_t count = ::recv(m_socket, room, std::size_t(kReadBytes), 0);
            m_buffered.resize(m_buffered.size() - kReadBytes + std::max<ssize_t>(count, 0));
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                return Received::Gone;
        }
        return Received::Frame;
    }

    bool ended() { return reap(false); }

    End end()
    {
        // Closing its input tells a worker that is still there to stop.
        closeSocket();
        for (int wait = 0; wait < 200 && !reap(false); ++wait)
            QThread::msleep(5);
        if (m_process > 0) {
            ::kill(m_process, SIGKILL);
            reap(true);
        }
        return m_end;
    }

    void kill()
    {
        if (m_process > 0)
            ::kill(m_process, SIGKILL);
        closeSocket();
    }

    qint64 processId() const { return m_process; }

private:
    bool sendAll(const QByteArray& bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            if (m_socket < 0)
                return false;
            // MSG_NOSIGNAL: a worker that has gone is a failed send, not a SIGPIPE that ends this program.
            const ssize_t count =
                ::send(m_socket, bytes.constData() + done, std::size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                return false;
            done += count;
        }
        return true;
    }

    // True once the worker is reaped (waiting for it when block is set).
    bool reap(bool block)
    {
        if (m_process <= 0)
            return true;
        int status = 0;
        pid_t reaped;
        do {
            reaped = ::waitpid(m_process, &status, block ? 0 : WNOHANG);
        } while (reaped < 0 && errno == EINTR);
        if (reaped == 0)
            return false;
        // Forgotten as soon as it is reaped, before the system can give its number to another process.
        noteEnded(m_process);
        if (reaped == m_process) {
            m_end.signaled = WIFSIGNALED(status);
            m_end.code = m_end.signaled ? WTERMSIG(status) : WEXITSTATUS(status);
        }
        m_process = -1;
        return true;
    }

    void closeSocket()
    {
        if (m_socket >= 0) {
            ::close(m_socket);
            m_socket = -1;
        }
    }

    pid_t m_process;
    int m_socket;
    QByteArray m_buffered;
    qsizetype m_start = 0;
    End m_end;
};

Result<std::unique_ptr<WorkerProcess>> WorkerProcess::start(const QString& program, const QStringList& arguments)
{
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return Failure{QString::fromLocal8Bit(std::strerror(errno))};
    // Room for a good run of rows in the pipe, so that the worker goes on making rows while the caller takes them
    // instead of the two waking each other for every few dozen kilobytes.
    const int bufferBytes = 1 << 20;
    for (const int end : sockets)
        ::setsockopt(end, SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
    std::vector<QByteArray> parts{FileNames::toNative(program)};
    for (const QString& argument : arguments)
        parts.push_back(FileNames::toNative(argument));
    parts.push_back("--parent");
    parts.push_back(QByteArray::number(qint64(::getpid())));
    std::vector<char*> argv;
    for (QByteArray& part : parts)
        argv.push_back(part.data());
    argv.push_back(nullptr);

    // The worker's end of the pair becomes its standard input and output; dup2 lets those survive the exec,
    // while every other descriptor of this program stays behind.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], 0);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], 1);
    pid_t process = 0;
    const int error = ::posix_spawn(&process, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(sockets[1]);
    if (error != 0) {
        ::close(sockets[0]);
        return Failure{QString::fromLocal8Bit(std::strerror(error))};
    }
    return std::unique_ptr<WorkerProcess>(new WorkerProcess(std::make_unique<Connection>(process, sockets[0])));
}

namespace WorkerChannel {

namespace {

QByteArray& inputBuffer()
{
    static QByteArray buffered;
    return buffered;
}

QByteArray& outputBuffer()
{
    static QByteArray queued;
    return queued;
}

} // namespace

bool receive(char& kind, QByteArray& payload)
{
    static qsizetype start = 0;
    QByteArray& buffered = inputBuffer();
    while (!takeFrame(buffered, start, kind, payload)) {
        char block[65536];
        const ssize_t count = ::read(0, block, sizeof block);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        buffered.append(block, qsizetype(count));
    }
    return true;
}

void send(char kind, const QByteArray& payload)
{
    outputBuffer() += header(kind, payload.size());
    outputBuffer() += payload;
}

bool flush()
{
    QByteArray& queued = outputBuffer();
    qsizetype done = 0;
    while (done < queued.size()) {
        const ssize_t count = ::write(1, queued.constData() + done, std::size_t(queued.size() - done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += count;
    }
    queued.clear();
    return true;
}

bool LimitMemory(qint64 bytes)
{
    const rlimit limit{rlim_t(bytes), rlim_t(bytes)};
    return ::setrlimit(RLIMIT_AS, &limit) == 0;
}

void EndWithParent(qint64 parent)
{
#ifdef Q_OS_LINUX
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    // The parent may have gone before the line above took effect.
    if (qint64(::getppid()) != parent)
        _exit(0);
}

} // namespace WorkerChannel

#else

// Windows: the worker is started with CreateProcess, its standard input and output on two pipes, and put in a job
// object that limits its memory and ends it when the job's handle closes, so that no worker outlives the program
// however the program ends. The caller's thread reads and writes the pipes directly.
namespace {

void terminate(DWORD processId)
{
    if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, processId)) {
        TerminateProcess(process, 1);
        CloseHandle(process);
    }
}

// One argument as CommandLineToArgvW and the C runtime read it back.
std::wstring quoted(const QString& argument)
{
    const std::wstring text = argument.toStdWString();
    if (!text.empty() && text.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return text;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are doubled only before a quote, which itself is escaped.
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

// The bytes of address space the worker was given with --memory-limit, for its job; 0: none.
SIZE_T memoryLimitOf(const QStringList& arguments)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("--memory-limit"));
    return at >= 0 && at + 1 < arguments.size() ? SIZE_T(arguments[at + 1].toLongLong()) : 0;
}

// Only one worker is started at a time, so that the pipe ends made inheritable for one are inherited by no other.
std::mutex g_starting;

// The pipe the worker writes its answers into: a named one, so that this program's end can be opened for overlapped
// reads, which can wait with a time limit (an anonymous pipe's reads cannot). Its name is this program's and a
// count; no other computer may open it, and nothing else opens it before the worker's end is made.
bool outputPipe(HANDLE& output, HANDLE& childOutput, SECURITY_ATTRIBUTES& inheritable)
{
    static std::atomic<unsigned> made{0};
    const std::wstring name =
        L"\\\\.\\pipe\\quillory-worker-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++made);
    output = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                              PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 0, 0,
                              nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        output = nullptr;
        return false;
    }
    childOutput = CreateFileW(name.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, &inheritable, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (childOutput == INVALID_HANDLE_VALUE) {
        childOutput = nullptr;
        return false;
    }
    return true;
}

} // namespace

class WorkerProcess::Connection
{
public:
    Connection(PROCESS_INFORMATION process, HANDLE job, HANDLE input, HANDLE output)
        : m_process(process.hProcess), m_processId(process.dwProcessId), m_job(job), m_input(input), m_output(output),
          m_readDone(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        CloseHandle(process.hThread);
        noteRunning(m_processId);
    }
    ~Connection()
    {
        kill();
        closeInput();
        CloseHandle(m_output);
        if (m_readDone)
            CloseHandle(m_readDone);
        CloseHandle(m_process);
        CloseHandle(m_job);
        noteEnded(m_processId);
    }

    bool send(char kind, const QByteArray& payload)
    {
        return writeAll(header(kind, payload.size())) && writeAll(payload);
    }

    Received receive(char& kind, QByteArrayView& payload, std::chrono::milliseconds patience)
    {
        const Clock::time_point deadline = Clock::now() + patience;
        while (!takeFrame(m_buffered, m_start, kind, payload)) {
            char* const room = readRoom(m_buffered);
            OVERLAPPED overlapped = {};
            overlapped.hEvent = m_readDone;
            DWORD count = 0;
            bool read = false;
            bool timedOut = false;
            if (ReadFile(m_output, room, DWORD(kReadBytes), nullptr, &overlapped)) {
                read = GetOverlappedResult(m_output, &overlapped, &count, FALSE);
            } else if (GetLastError() == ERROR_IO_PENDING) {
                const DWORD wait = patience.count() > 0 ? DWORD(millisecondsLeft(deadline)) : INFINITE;
                const DWORD waited = WaitForSingleObject(m_readDone ? m_readDone : m_output, wait);
                if (waited != WAIT_OBJECT_0) {
                    CancelIoEx(m_output, &overlapped);
                    timedOut = waited == WAIT_TIMEOUT;
                }
                // Waits until a cancelled read is done with the buffer; one that completed meanwhile still counts.
                read = GetOverlappedResult(m_output, &overlapped, &count, TRUE);
            }
            read = read && count > 0;
            m_buffered.resize(m_buffered.size() - kReadBytes + qsizetype(read ? count : 0));
            if (!read)
                return timedOut ? Received::TimedOut : Received::Gone;
        }
        return Received::Frame;
    }

    bool ended() const { return WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0; }

    End end()
    {
        // Closing its input tells a worker that is still there to stop.
        closeInput();
        if (WaitForSingleObject(m_process, 1000) != WAIT_OBJECT_0)
            kill();
        DWORD code = 0;
        GetExitCodeProcess(m_process, &code);
        // Exception codes (an access violation is 0xC0000005) are a crash rather than an exit.
        return End{code >= 0xC0000000u, int(code)};
    }

    void kill()
    {
        TerminateProcess(m_process, 1);
        WaitForSingleObject(m_process, INFINITE);
    }

    qint64 processId() const { return m_processId; }

private:
    bool writeAll(const QByteArray& bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            DWORD count = 0;
            const DWORD chunk = DWORD(std::min<qsizetype>(bytes.size() - done, 1 << 30));
            if (m_input == nullptr || !WriteFile(m_input, bytes.constData() + done, chunk, &count, nullptr))
                return false;
            done += qsizetype(count);
        }
        return true;
    }
    void closeInput()
    {
        if (m_input) {
            CloseHandle(m_input);
            m_input = nullptr;
        }
    }

    HANDLE m_process;
    DWORD m_processId;
    HANDLE m_job;
    HANDLE m_input;    // the worker's standard input
    HANDLE m_output;   // the worker's standard output, read overlapped
    HANDLE m_readDone; // signalled when a read of it is done
    QByteArray m_buffered;
    qsizetype m_start = 0;
};

Result<std::unique_ptr<WorkerProcess>> WorkerProcess::start(const QString& program, const QStringList& arguments)
{
    std::wstring commandLine = quoted(program);
    for (const QString& argument :
         arguments + QStringList{QStringLiteral("--parent"), QString::number(GetCurrentProcessId())})
        commandLine += L" " + quoted(argument);

    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job)
        return Failure{QStringLiteral("no job object (error %1)").arg(GetLastError())};
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (const SIZE_T memory = memoryLimitOf(arguments)) {
        limits.BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY;
        limits.ProcessMemoryLimit = memory;
    }
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);

    const std::lock_guard lock(g_starting);
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childInput = nullptr, input = nullptr, output = nullptr, childOutput = nullptr;
    if (!CreatePipe(&childInput, &input, &inheritable, 0) || !outputPipe(output, childOutput, inheritable)) {
        const DWORD error = GetLastError();
        for (HANDLE handle : {childInput, input, output, childOutput, job})
            if (handle)
                CloseHandle(handle);
        return Failure{QStringLiteral("no pipe (error %1)").arg(error)};
    }
    SetHandleInformation(input, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = childOutput;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                        CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    const DWORD error = GetLastError();
    CloseHandle(childInput);
    CloseHandle(childOutput);
    if (!started) {
        for (HANDLE handle : {input, output, job})
            CloseHandle(handle);
        return Failure{QStringLiteral("error %1").arg(error)};
    }
    // In its job before it runs a single instruction: it can neither outgrow its limit nor outlive the program.
    AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    return std::unique_ptr<WorkerProcess>(new WorkerProcess(std::make_unique<Connection>(process, job, input, output)));
}

namespace WorkerChannel {

bool receive(char& kind, QByteArray& payload)
{
    static QByteArray buffered;
    static qsizetype start = 0;
    _setmode(0, _O_BINARY);
    while (!takeFrame(buffered, start, kind, payload)) {
        char block[65536];
        const int count = _read(0, block, sizeof block);
        if (count <= 0)
            return false;
        buffered.append(block, count);
    }
    return true;
}

static QByteArray queued;

void send(char kind, const QByteArray& payload)
{
    queued += header(kind, payload.size());
    queued += payload;
}

bool flush()
{
    _setmode(1, _O_BINARY);
    qsizetype done = 0;
    while (done < queued.size()) {
        const int count =
            _write(1, queued.constData() + done, unsigned(std::min<qsizetype>(queued.size() - done, 1 << 30)));
        if (count <= 0)
            return false;
        done += count;
    }
    queued.clear();
    return true;
}

bool LimitMemory(qint64 bytes)
{
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    limits.ProcessMemoryLimit = SIZE_T(bytes);
    return job && SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) &&
           AssignProcessToJobObject(job, GetCurrentProcess());
}

void EndWithParent(qint64 parent)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(parent));
    if (!process)
        ExitProcess(0);
    // A thread that waits for the parent's end and ends the worker with it.
    CreateThread(
        nullptr, 0,
        [](LPVOID handle) -> DWORD {
            WaitForSingleObject(static_cast<HANDLE>(handle), INFINITE);
            ExitProcess(0);
        },
        process, 0, nullptr);
}

} // namespace WorkerChannel

#endif

WorkerProcess::WorkerProcess(std::unique_ptr<Connection> connection) : m_connection(std::move(connection)) {}

WorkerProcess::~WorkerProcess() = default;

bool WorkerProcess::send(char kind, const QByteArray& payload)
{
    return m_connection->send(kind, payload);
}

bool WorkerProcess::receive(char& kind, QByteArray& payload)
{
    QByteArrayView view;
    if (!receive(kind, view))
        return false;
    payload = view.toByteArray();
    return true;
}

bool WorkerProcess::receive(char& kind, QByteArrayView& payload)
{
    return m_connection->receive(kind, payload, std::chrono::milliseconds::zero()) == Received::Frame;
}

WorkerProcess::Received WorkerProcess::receive(char& kind, QByteArrayView& payload, std::chrono::milliseconds patience)
{
    return m_connection->receive(kind, payload, patience);
}

bool WorkerProcess::hasEnded()
{
    return m_connection->ended();
}

WorkerProcess::End WorkerProcess::end()
{
    return m_connection->end();
}

void WorkerProcess::kill()
{
    m_connection->kill();
}

QString WorkerProcess::Describe(const End& end)
{
#ifdef Q_OS_UNIX
    if (end.signaled) {
        const char* name = ::strsignal(end.code);
        return QStringLiteral("stopped with signal %1, %2")
            .arg(end.code)
            .arg(QString::fromLocal8Bit(name ? name : "unknown"));
    }
#else
    if (end.signaled) {
        const DWORD code = DWORD(end.code);
        const char* name = nullptr;
        switch (code) {
        case 0xC0000005:
            name = "access violation";
            break;
        case 0xC0000017:
            name = "no memory";
            break;
        case 0xC000001D:
            name = "illegal instruction";
            break;
        case 0xC0000094:
            name = "integer division by zero";
            break;
        case 0xC00000FD:
            name = "stack overflow";
            break;
        case 0xC000013A:
            name = "Ctrl+C";
            break;
        case 0xC0000135:
            name = "a DLL was not found";
            break;
        case 0xC0000142:
            name = "a DLL could not start";
            break;
        case 0xC0000409:
            name = "stack buffer overrun";
            break;
        default:
            break;
        }
        const QString hex = QStringLiteral("0x") + QString::number(code, 16).toUpper();
        return name ? QStringLiteral("stopped with exception %1, %2").arg(hex, QLatin1String(name))
                    : QStringLiteral("stopped with exception %1").arg(hex);
    }
    // What TerminateProcess leaves as Task Manager, taskkill /f and this program use it; the worker itself never
    // ends with it.
    if (end.code == 1)
        return QStringLiteral("was ended from outside, status 1");
#endif
    return QStringLiteral("stopped with status %1").arg(end.code);
}

void WorkerProcess::InterruptAll()
{
#ifdef Q_OS_UNIX
    for (const std::atomic<ProcessNumber>& slot : g_running) {
        const pid_t process = slot.load();
        if (process > 0)
            ::kill(process, SIGKILL);
    }
#else
    for (const std::atomic<ProcessNumber>& slot : g_running) {
        if (const DWORD process = slot.load())
            terminate(process);
    }
#endif
}

void WorkerProcess::Interrupt(qint64 processId)
{
    if (processId <= 0)
        return;
#ifdef Q_OS_UNIX
    ::kill(pid_t(processId), SIGKILL);
#else
    terminate(DWORD(processId));
#endif
}

qint64 WorkerProcess::processId() const
{
    return m_connection->processId();
}
