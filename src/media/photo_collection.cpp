#include "app/main_dialog.h"

#include <QHeaderView>
#include <QTreeWidget>

void MainDialog::InitPhotoListColumns()
{
    m_columnTitles.clear();
    m_columnTitles << QStringLiteral("File Name") << QStringLiteral("Create Date")
                   << QStringLiteral("Path");
    const int width = m_photoList->contentsRect().width() / static_cast<int>(m_columnTitles.size());
    m_photoList->setColumnCount(static_cast<int>(m_columnTitles.size()));
    m_photoList->setHeaderLabels(m_columnTitles);
    for (int i = 0; i < m_columnTitles.size(); ++i) {
        m_photoList->headerItem()->setTextAlignment(i, Qt::AlignLeft | Qt::AlignVCenter);
        m_photoList->setColumnWidth(i, width);
    }
}
