#include "gui/base_wizard_page.h"

#include <QApplication>
#include <QFontInfo>
#include <QHBoxLayout>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gui/artwork.h"
#include "res/string_table.h"

namespace portflash {
namespace {
constexpr std::size_t kFaceNameMax = 31;  // the face name's limit, without its terminator
}

CBaseWizardPage::CBaseWizardPage(GuiContext& context, int step, QWidget* parent)
    : QWizardPage(parent),
      m_context(context),
      m_strCaption(QStringLiteral("Tarvex Flashmoor: Step %1").arg(step)) {
  auto* columns = new QHBoxLayout(this);
  columns->setContentsMargins(0, 0, 0, 0);
  columns->setSpacing(14);

  auto* picture = new QLabel(this);
  picture->setObjectName(QStringLiteral("picture"));
  picture->setPixmap(WizardPicture(qApp->devicePixelRatio()));
  picture->setFixedSize(kPictureWidth, kPictureHeight);
  columns->addWidget(picture, 0, Qt::AlignTop);

  m_body = new QVBoxLayout;
  m_body->setSpacing(10);
  columns->addLayout(m_body, 1);

  m_stcTitle = new QLabel(this);
  m_stcTitle->setObjectName(QStringLiteral("title"));
  m_stcTitle->setFont(TitleFont());
  m_stcTitle->setWordWrap(true);
  m_body->addWidget(m_stcTitle);
}

QFont CBaseWizardPage::MakeFont(const char* face, const char* height, int weight, int underline,
                                int italic, int strikeOut) {
  QFont font;
  if (face != nullptr) {
    font.setFamily(
        QString::fromLocal8Bit(face, static_cast<qsizetype>(strnlen(face, kFaceNameMax))));
  }
  const int pixels = height != nullptr ? std::atoi(height) : 0;
  if (pixels > 0) font.setPixelSize(pixels);  // 0 or less: the default size
  if (weight > 0 && weight <= 1000) font.setWeight(static_cast<QFont::Weight>(weight));
  font.setUnderline(underline != 0);
  font.setItalic(italic != 0);
  font.setStrikeOut(strikeOut != 0);
  return font;
}

QFont CBaseWizardPage::TitleFont() {
  QFont font = MakeFont(LoadStringResource(IDS_FONT_FACE), LoadStringResource(IDS_FONT_HEIGHT), 800,
                        0, 0, 0);
  // With a large desktop font the title stays larger than the text under it.
  const int least = QFontInfo(QApplication::font()).pixelSize() * 3 / 2;
  if (font.pixelSize() > 0 && font.pixelSize() < least) font.setPixelSize(least);
  return font;
}

QLabel* CBaseWizardPage::AddText(const QString& text, const char* objectName) {
  auto* label = new QLabel(text, this);
  label->setObjectName(QString::fromLatin1(objectName));
  label->setWordWrap(true);
  label->setTextFormat(Qt::PlainText);
  m_body->addWidget(label);
  return label;
}

}  // namespace portflash
