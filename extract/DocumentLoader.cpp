#include "DocumentLoader.h"

#include "FileSystem.h"
#include "MemoryInfo.h"

qint64 LargestDocumentBytes()
{
    const std::uint64_t physical = PhysicalMemoryBytes();
    if (physical == 0)
        return std::numeric_limits<qint64>::max();
    return qint64(physical / 4 / kDocumentBytesPerFileByte);
}

Result<std::unique_ptr<HtmlDocument>> LoadHtmlDocument(const QString& path, HtmlParser& parser)
{
    Result<QByteArray> bytes = FileSystem::readAll(path, LargestDocumentBytes(), QStringLiteral("documents"));
    if (!bytes)
        return bytes.failure();
    return parser.parse(*bytes);
}
