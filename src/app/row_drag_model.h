#pragma once

#include <QIdentityProxyModel>
#include <QString>

// Shows a table unchanged but lets its rows be dragged: the text tables themselves know
// nothing of dragging. The drag carries only its type; whoever takes the drop reads the
// selection of the views it cares about.
class RowDragModel : public QIdentityProxyModel {
    Q_OBJECT
public:
    RowDragModel(QAbstractItemModel* source, const QString& mimeType, QObject* parent = nullptr);

    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override;

private:
    QString m_mimeType;
};
