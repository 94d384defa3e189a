#include "ui/PlainMessageBox.h"

#include "report/ApplicationTitle.h"
#include "ui/FormHelpers.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

PlainMessageBox::PlainMessageBox(const QString &text, QWidget *parent)
    : QDialog(parent)
    , m_label(new QLabel(text, this))
    , m_ok(new QPushButton(QStringLiteral("OK"), this))
{
    setWindowTitle(applicationTitle());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setWindowModality(Qt::ApplicationModal);

    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The box is as wide as the text needs, but never wider than half the screen.
    const QRect screen = screenArea();
    const int widest = screen.isNull() ? 640 : screen.width() / 2;
    const QRect textRect =
        m_label->fontMetrics().boundingRect(QRect(0, 0, widest, 100000), Qt::TextWordWrap, text);
    m_label->setFixedWidth(qMin(widest, textRect.width() + 2));
    m_label->setMinimumHeight(textRect.height());

    m_ok->setDefault(true);
    m_ok->setAutoDefault(true);
    m_ok->setMinimumWidth(75);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 12);
    layout->setSpacing(16);
    layout->addWidget(m_label);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString PlainMessageBox::text() const
{
    return m_label->text();
}

void PlainMessageBox::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    centreWindowOn(this, screenArea());
    m_ok->setFocus();
}
