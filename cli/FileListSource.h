#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The files of a run, in order: those named as arguments, then those of a list (--files-from), which is read as the
// run takes its entries, so that a list of any length costs the same memory. A folder stands for every file in it
// and beneath it, as when one is dropped on the window. A name or folder that cannot be taken, or a folder beneath
// one that cannot be read, is reported on standard error and left out. The list is read on a thread of its own, a
// few thousand names ahead: a name is taken as soon as its delimiter arrives, even from a program that is still
// writing the list. Where the system allows no more threads, the list is read as the run asks for its names.
class FileListSource
{
public:
    // extension: for folders, take only files matching *.EXT; empty: every file. verbose: also say, for each folder,
    // how many entries the walk's rules passed over (hidden files and the like).
    FileListSource(QString extension, const std::atomic<bool>& stopRequested, bool verbose = false);
    ~FileListSource();
    FileListSource(const FileListSource&) = delete;
    FileListSource& operator=(const FileListSource&) = delete;

    // Takes the arguments, walking the folders among them; false when the user stopped the walk.
    bool addArguments(const std::vector<std::string>& arguments);
    // Opens the list, one name an entry (ended by a line feed, or a NUL with nulSeparated); "-" is standard input.
    // False (after a message) when it cannot be opened, is a folder, or is standard input and that came closed.
    bool openList(const std::string& path, bool nulSeparated);
    bool hasList() const { return m_list != nullptr; }
    // How many files the arguments named, folders walked.
    std::size_t named() const { return m_named; }

    // The next file, or nothing at the end of the files (or once the user stopped). One call at a time, from any
    // thread.
    std::optional<QString> next();
    // Whether next() answers without waiting for the list; under the same rule as next().
    bool ready();
    // Whether a name or folder had to be left out.
    bool namesFailed() const { return m_namesFailed.load(); }

private:
    struct ListEntry
    {
        QByteArray name;
        std::size_t line = 0; // counting blank lines
    };
    // What the list's reader shares with the run.
    struct List
    {
        ~List();
        std::FILE* stream = nullptr;
        char delimiter = '\n';
        std::mutex mutex;
        std::condition_variable changed; // an entry came, or the list ended
        std::condition_variable room;    // an entry was taken, or the source is gone
        std::deque<ListEntry> entries;
        bool ended = false;
        int error = 0;          // what ended the reading, when not the list's end
        bool abandoned = false; // the source is gone: nothing more is read
        bool ownThread = false; // read on a thread of its own, else by next() as it needs names
        // The reading's own: touched by one reader at a time, without the mutex.
        QByteArray block;   // what one read takes
        QByteArray partial; // the start of a name whose delimiter has not come yet
        std::size_t line = 0;
    };

    static void readList(const std::shared_ptr<List>& list, const std::atomic<bool>& stopRequested);
    // Reads what the list holds now (waiting for it to give anything) and hands its names over; false once the list
    // has ended, or nobody takes its names any more.
    static bool readSome(List& list, const std::atomic<bool>& stopRequested);
    void expand(const QByteArray& argument);
    // Starts the list's reader when the run first asks for a name: by then the run has its first worker, which a
    // system that allows few threads and processes is to give one rather than the reader.
    void startReading();
    // The next entry of the list; nothing at its end or (when not waiting) when none has come yet.
    std::optional<ListEntry> takeListEntry(bool wait);
    // Reports an entry that names no file, or puts its files in hand.
    void take(ListEntry entry);

    QString m_pattern;
    const std::atomic<bool>& m_stopRequested;
    std::deque<QString> m_pending;
    std::size_t m_named = 0;
    std::atomic<bool> m_namesFailed{false};
    std::shared_ptr<List> m_list;
    std::thread m_reader;
    QByteArray m_listName; // as messages name it
    bool m_readingStarted = false;
    bool m_listDone = false; // every entry of the list taken
    bool m_verbose = false;
};
