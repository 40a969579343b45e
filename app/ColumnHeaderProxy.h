#pragma once

#include <QIdentityProxyModel>

// Shows a list model under a one-column header whose text the window sets at start-up, and of each row no more text
// than the widest screen can show: a row of hundreds of megabytes (one long line of a page) would otherwise hold up
// the window for seconds each time the view lays it out. The row itself stays whole for the saves and the copy.
class ColumnHeaderProxy final : public QIdentityProxyModel
{
    Q_OBJECT

public:
    using QIdentityProxyModel::QIdentityProxyModel;

    void setHeader(const QString& text)
    {
        m_header = text;
        Q_EMIT headerDataChanged(Qt::Horizontal, 0, 0);
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
            return m_header;
        return QIdentityProxyModel::headerData(section, orientation, role);
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        QVariant value = QIdentityProxyModel::data(index, role);
        if (role != Qt::DisplayRole || value.typeId() != QMetaType::QString)
            return value;
        const QString text = value.toString();
        if (text.size() <= kShownCharacters)
            return value;
        // A character made of two UTF-16 units is not cut in half.
        const qsizetype shown =
            text.at(kShownCharacters - 1).isHighSurrogate() ? kShownCharacters - 1 : kShownCharacters;
        return text.left(shown);
    }

    // Far more than a screen of the narrowest characters.
    static constexpr qsizetype kShownCharacters = 4096;

private:
    QString m_header;
};
