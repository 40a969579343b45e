#pragma once

#include <QIdentityProxyModel>

// Shows a list model under a one-column header whose text the window sets at start-up.
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

private:
    QString m_header;
};
