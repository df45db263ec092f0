#pragma once
#include <QFont>
#include <QLabel>
#include <QVBoxLayout>
#include <QWizardPage>

namespace portflash {

struct GuiContext;

// What every page of the wizard has: the picture down the left, the title in
// the title font, and the page events of the wizard.
class CBaseWizardPage : public QWizardPage {
  Q_OBJECT
 public:
  // step: 1 to 5, which names the page's caption "Tarvex Flashmoor: Step N".
  CBaseWizardPage(GuiContext& context, int step, QWidget* parent = nullptr);

  // A font from its face, its height as text (pixels), weight (0 to 1000) and the
  // underline, italic and strike-out flags (0 or 1).
  static QFont MakeFont(const char* face, const char* height, int weight, int underline, int italic,
                        int strikeOut);
  static QFont TitleFont();

  const QString& Caption() const { return m_strCaption; }
  QLabel* Title() const { return m_stcTitle; }

  // Each time the page becomes the wizard's current page.
  virtual void OnSetActive() {}
  // Leaving by Next or by Back: false keeps the user on the page.
  virtual bool OnKillActive() { return true; }
  // Cancel, Escape or the window's close box: false keeps the wizard open.
  virtual bool OnQueryCancel() { return true; }

  bool validatePage() override { return OnKillActive(); }

 protected:
  // The column right of the picture, which the pages fill.
  QVBoxLayout* Body() const { return m_body; }
  QLabel* AddText(const QString& text, const char* objectName);
  GuiContext& m_context;
  QLabel* m_stcTitle = nullptr;

 private:
  QString m_strCaption;
  QVBoxLayout* m_body = nullptr;
};

}  // namespace portflash
