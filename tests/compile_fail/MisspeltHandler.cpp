// A dialog that binds its handlers as the five dialogs do.  Built by the
// tests only with -fsyntax-only: spelt right it compiles; with
// TALVINE_MISSPELL=1 (a control's handler) or 2 (the form's own) the compiler
// refuses the name, so a misspelt handler never reaches a running library.
#include "toolkit/Form.h"

namespace talvine::tk {

class Dlg : public Form {
  public:
    explicit Dlg(Application& app)
        : Form(app, FormDesc{.name = "Dlg",
                             .controls = {{.kind = ControlKind::CheckBox, .name = "Case"}}}) {
#if TALVINE_MISSPELL == 1
        bind("Case", EventKind::Click, this, &Dlg::CaseClik);
#else
        bind("Case", EventKind::Click, this, &Dlg::CaseClick);
#endif
#if TALVINE_MISSPELL == 2
        bind(EventKind::Show, this, &Dlg::FormShown);
#else
        bind(EventKind::Show, this, &Dlg::FormShow);
#endif
    }
    void CaseClick(Control&) {}
    void FormShow() {}
};

} // namespace talvine::tk
