#include "RowOutput.h"

#include "AnsiCodec.h"
#include "FileNames.h"
#include "ResultsFormat.h"
#include "RowFormats.h"
#include "StandardStreams.h"
#include "StopSignals.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

RowOutput::RowOutput(const Options& options)
    : m_options(options), m_savePath(options.saveText ? options.saveText : options.saveCsv)
{
#ifdef Q_OS_WIN
    // Rows are bytes: a line feed is not to become CR LF on its way out, so the output is the same on every system.
    ::_setmode(::_fileno(stdout), _O_BINARY);
#endif
    static char outputBuffer[1 << 20];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
}

void RowOutput::reportSaveFailure()
{
    std::fprintf(stderr, "quillory-extract: %s: could not be saved: %s\n", FileNames::toNative(*m_savePath).constData(),
                 m_save->errorString().toLocal8Bit().constData());
}

bool RowOutput::savesOverAnInput() const
{
    if (!m_savePath)
        return false;
    QStringList inputs;
    for (const std::string& file : m_options.files)
        inputs << FileNames::fromNative(QByteArray::fromStdString(file));
    if (m_options.filesFrom && *m_options.filesFrom != "-")
        inputs << FileNames::fromNative(QByteArray::fromStdString(*m_options.filesFrom));
    const std::optional<QString> input = SaveFile::sameFileAmong(*m_savePath, inputs);
    if (!input)
        return false;
    std::fprintf(stderr, "quillory-extract: %s: refusing to save over %s, which the run reads\n",
                 FileNames::toNative(*m_savePath).constData(), FileNames::toNative(*input).constData());
    return true;
}

bool RowOutput::open()
{
    if (!m_savePath) {
        // The rows would vanish on the null device that stands in for the closed stream.
        if (!StandardStreams::WasClosed(1))
            return true;
        std::fprintf(stderr, "quillory-extract: could not write the rows: standard output is closed\n");
        return false;
    }
    // Opening a pipe waits for its reader, and a stop is to end that wait too. A stop that comes while the target
    // is opened ends the wait with EINTR (the stop signals do not restart calls); it is no failure of the target's.
    if (StopSignals::Requested().load())
        return false;
    m_save.emplace(*m_savePath);
    if (m_save->open())
        return true;
    if (!StopSignals::Requested().load())
        reportSaveFailure();
    return false;
}

OrderedExtraction::Format RowOutput::format() const
{
    if (m_options.saveText)
        return [](QByteArray& chunk, std::string_view, std::string_view row) {
            ResultsFormat::appendTextLine(chunk, QString::fromUtf8(row.data(), qsizetype(row.size())));
        };
    if (m_options.saveCsv)
        return [](QByteArray& chunk, std::string_view, std::string_view row) {
            ResultsFormat::appendCommaField(chunk, QString::fromUtf8(row.data(), qsizetype(row.size())));
        };
    const RowFormats::Format printed = m_options.format;
    return [printed](QByteArray& chunk, std::string_view prefix, std::string_view row) {
        RowFormats::AppendRow(printed, chunk, prefix, row);
    };
}

OrderedExtraction::PartsFormat RowOutput::partsFormat() const
{
    OrderedExtraction::PartsFormat parts;
    if (m_options.saveText || m_options.saveCsv) {
        // The code page's bytes of a row cut between characters are those of the whole row, piece by piece.
        const char* const end = m_options.saveText ? ResultsFormat::kLineEnd : ",";
        parts.begin = [](QByteArray&, std::string_view) {
        };
        parts.part = [](QByteArray& chunk, std::string_view part) {
            AnsiCodec::appendEncodedUtf8(chunk, QByteArrayView(part.data(), qsizetype(part.size())));
        };
        parts.end = [end](QByteArray& chunk) {
            chunk.append(end);
        };
        return parts;
    }
    const RowFormats::Format printed = m_options.format;
    parts.begin = [](QByteArray& chunk, std::string_view prefix) {
        RowFormats::AppendRowStart(chunk, prefix);
    };
    parts.part = [printed](QByteArray& chunk, std::string_view part) {
        RowFormats::AppendRowPart(printed, chunk, part);
    };
    parts.end = [printed](QByteArray& chunk) {
        RowFormats::AppendRowEnd(printed, chunk);
    };
    return parts;
}

OrderedExtraction::Deliver RowOutput::deliver()
{
    if (!m_save)
        return [](const QByteArray& chunk) {
            std::fwrite(chunk.constData(), 1, std::size_t(chunk.size()), stdout);
        };
    return [this](const QByteArray& chunk) {
        if (m_save->write(chunk))
            return;
        // Nothing more can reach the target: the rows still to come would be made for nothing.
        reportSaveFailure();
        m_save->cancel();
        std::fflush(nullptr);
        std::_Exit(1);
    };
}

std::function<QByteArray(const QString& file)> RowOutput::rowPrefix() const
{
    if (m_save || (!m_options.withFileName && m_options.format == RowFormats::Format::Text))
        return {};
    return [this](const QString& file) {
        return RowFormats::Prefix(m_options.format, m_options.withFileName, FileNames::toNative(file));
    };
}

int RowOutput::finish(int status)
{
    if (m_save) {
        if ((m_options.saveCsv && !m_save->write(ResultsFormat::kLineEnd)) || !m_save->commit()) {
            reportSaveFailure();
            status = 1;
        }
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "quillory-extract: could not write the rows: %s\n", std::strerror(errno));
        status = 1;
    }
    return status;
}

int RowOutput::stop(int status)
{
    std::fflush(stdout);
    if (m_save)
        m_save->cancel();
    return status;
}
