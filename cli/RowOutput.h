#pragma once

#include "Options.h"
#include "OrderedExtraction.h"
#include "SaveFile.h"

#include <QString>

#include <optional>

// Where the rows go: printed on standard output in the format asked for, or streamed into a save (text lines or one
// comma-delimited line), which replaces its target only once the last row is written, so that a save holds no more
// in memory than printing does and a failed or stopped run leaves the old target as it was.
class RowOutput
{
public:
    explicit RowOutput(const Options& options);

    // Whether the save's target is one of the files the run reads, named as an argument or as the list of files
    // (after a message): the rows would be made from the file they are to replace.
    bool savesOverAnInput() const;
    // Opens the save, if there is one; false when it cannot be opened (after a message) or the user stopped the run.
    bool open();
    // Rows become bytes on the workers; the bytes are written here, in the files' order.
    OrderedExtraction::Format format() const;
    // The same bytes for a row given in parts.
    OrderedExtraction::PartsFormat partsFormat() const;
    OrderedExtraction::Deliver deliver();
    // The bytes to put before each row of a file: its name, where the rows are printed with it.
    std::function<QByteArray(const QString& file)> rowPrefix() const;

    // Completes the save, or flushes what was printed; the run's status, made 1 when that fails.
    int finish(int status);
    // Ends the run the user stopped: what was written stays written, and a save leaves the old target as it was.
    int stop(int status);

private:
    void reportSaveFailure();

    const Options& m_options;
    std::optional<QString> m_savePath;
    std::optional<SaveFile> m_save;
};
