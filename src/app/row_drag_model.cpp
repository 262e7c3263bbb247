#include "app/row_drag_model.h"

#include <QMimeData>

RowDragModel::RowDragModel(QAbstractItemModel* source, const QString& mimeType, QObject* parent)
    : QIdentityProxyModel(parent), m_mimeType(mimeType) {
    setSourceModel(source);
}

Qt::ItemFlags RowDragModel::flags(const QModelIndex& index) const {
    return QIdentityProxyModel::flags(index) | Qt::ItemIsDragEnabled;
}

QStringList RowDragModel::mimeTypes() const { return {m_mimeType}; }

QMimeData* RowDragModel::mimeData(const QModelIndexList& indexes) const {
    if (indexes.isEmpty())
        return nullptr;
    auto* data = new QMimeData;
    data->setData(m_mimeType, QByteArray());
    return data;
}

Qt::DropActions RowDragModel::supportedDragActions() const { return Qt::CopyAction; }
