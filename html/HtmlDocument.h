#pragma once

#include "Result.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The small document model the extraction works on, kept narrow so that any HTML5 parser can
// stand behind it. Elements are numbered in document order (an element before its descendants,
// siblings in source order), so an element's descendants are the run of numbers right after it.

class HtmlDocument;
class HtmlElementCollection;

class HtmlElement
{
public:
    HtmlElement() = default;
    HtmlElement(const HtmlDocument* document, std::uint32_t index) : m_document(document), m_index(index) {}

    bool isNull() const { return m_document == nullptr; }
    std::uint32_t index() const { return m_index; }

    // Every element inside this one, not itself.
    HtmlElementCollection all() const;
    std::string innerText() const;
    std::string innerHTML() const;
    // The same, written into a buffer the caller reuses (replacing what it held).
    void innerText(std::string& out) const;
    void innerHTML(std::string& out) const;
    std::string_view tagName() const;

private:
    const HtmlDocument* m_document = nullptr;
    std::uint32_t m_index = 0;
};

class HtmlElementCollection
{
public:
    // A run of consecutive element numbers.
    HtmlElementCollection(const HtmlDocument* document, std::uint32_t first, std::uint32_t last)
        : m_document(document), m_first(first), m_last(last)
    {}
    // A chosen set of element numbers, in document order.
    HtmlElementCollection(const HtmlDocument* document, std::vector<std::uint32_t> indexes)
        : m_document(document), m_indexes(std::make_shared<const std::vector<std::uint32_t>>(std::move(indexes)))
    {}

    std::uint32_t length() const { return m_indexes ? std::uint32_t(m_indexes->size()) : m_last - m_first; }
    HtmlElement item(std::uint32_t index) const
    {
        return HtmlElement(m_document, m_indexes ? (*m_indexes)[index] : m_first + index);
    }

    class Iterator
    {
    public:
        Iterator(const HtmlElementCollection* owner, std::uint32_t position) : m_owner(owner), m_position(position) {}
        HtmlElement operator*() const { return m_owner->item(m_position); }
        Iterator& operator++()
        {
            ++m_position;
            return *this;
        }
        bool operator==(const Iterator& other) const { return m_position == other.m_position; }

    private:
        const HtmlElementCollection* m_owner;
        std::uint32_t m_position;
    };
    Iterator begin() const { return Iterator(this, 0); }
    Iterator end() const { return Iterator(this, length()); }

private:
    const HtmlDocument* m_document;
    std::uint32_t m_first = 0;
    std::uint32_t m_last = 0;
    std::shared_ptr<const std::vector<std::uint32_t>> m_indexes;
};

class HtmlDocument
{
public:
    virtual ~HtmlDocument() = default;

    // "complete" once the document is fully built.
    virtual QString readyState() const = 0;

    // The body element; a frameset document answers with its frameset, as browsers do.
    HtmlElement body() const;
    // Every element of the document.
    HtmlElementCollection all() const { return HtmlElementCollection(this, 0, elementCount()); }
    // The elements whose tag name is name, compared without regard to case; "*" gives every one.
    HtmlElementCollection getElementsByTagName(std::string_view name) const;

    // What a parser supplies, by element number.
    virtual std::uint32_t elementCount() const = 0;
    virtual std::int64_t bodyIndex() const = 0;                      // -1 when there is none
    virtual std::uint32_t subtreeEnd(std::uint32_t index) const = 0; // one past the last descendant
    virtual std::string_view tagName(std::uint32_t index) const = 0;
    // Both replace what out held.
    virtual void innerText(std::uint32_t index, std::string& out) const = 0;
    // The element's content as markup, every line break written as CR LF.
    virtual void innerHTML(std::uint32_t index, std::string& out) const = 0;
};

// Makes documents out of file bytes; one serves every file of an extraction run.
class HtmlParser
{
public:
    virtual ~HtmlParser() = default;
    // Decodes the bytes the way a browser opening a local file would (byte-order mark, then a
    // declared charset, then UTF-8 when the bytes are valid UTF-8, else the system's ANSI code page,
    // Windows-1252 on Linux) and builds the document. Any content gives a document; only running out of resources fails.
    virtual Result<std::unique_ptr<HtmlDocument>> parse(const QByteArray& bytes) = 0;
};

std::unique_ptr<HtmlParser> createHtmlParser();

// What happens when the parser's own allocations fail: the handler runs and must not return (a worker process ends
// with its out-of-memory status); without one, the program aborts. The parser could not go on either way, as it
// never expects an allocation to fail.
void SetParserOutOfMemoryHandler(void (*handler)());

// Makes the parser's own allocations fail once the blocks it holds would pass bytes, whatever the system would
// still give. A worker's memory limit is the system's to keep (an address-space limit, a job object's), but not
// every system keeps it (Wine ignores a job's), and a parse that takes all of memory hurts the whole machine.
// Set once, before the first parse; 0 (the start) counts nothing.
void SetParserMemoryLimit(std::size_t bytes);

// The most the parser's blocks have held at once since the last call (counted only under a limit of its own).
std::size_t TakeParserMemoryPeak();
