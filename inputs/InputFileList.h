#pragma once

#include <QAbstractListModel>
#include <QStringList>

// The files to extract from, in the order the user gave them: the window's upper list. Positions count from 1, as
// every caller (and the user) counts them. The same path may be listed twice; callers that want it once ask
// IsInList first.
class InputFileList : public QAbstractListModel
{
public:
    explicit InputFileList(QObject* parent = nullptr);

    void Append(const QString& path);
    // A folder scan can add a hundred thousand paths: views hear of them as one insertion.
    void AppendMany(const QStringList& paths);

    int Count() const;
    // 1 <= position <= Count().
    QString ItemText(int position) const;
    const QStringList& Texts() const { return m_texts; }
    // Exact, case-sensitive comparison of whole texts: one file listed under two spellings counts as two paths.
    bool IsInList(const QString& path) const;

    // Later items move up one place.
    void RemoveAt(int position);
    void Clear();
    // A drag in the window exchanges two items' texts; the rows themselves stay where they are, so the selection and
    // the current row stay put too.
    void SwapTexts(int first, int second);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    bool isPosition(int position) const { return position >= 1 && position <= m_texts.size(); }

    QStringList m_texts;
};
