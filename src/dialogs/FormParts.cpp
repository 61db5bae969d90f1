#include "dialogs/FormParts.h"

namespace talvine::dialogs {

std::vector<tk::ControlDesc> samplingChoice(tk::Rect box, int tabOrder, const char* bilinear,
                                            int top, int bilinearLeft) {
    using K = tk::ControlKind;
    tk::ControlDesc basique =
        tk::describe(K::RadioButton, "Basique", "TypeProcess", "Basique", {12, top, 73, 17});
    basique.checked = true;
    return {tk::describe(K::GroupBox, "TypeProcess", "", " Finesse du traitement ", box, tabOrder),
            basique,
            tk::describe(K::RadioButton, bilinear, "TypeProcess",
                         "Interpolation bilin\xC3\xA9"
                         "aire",
                         {bilinearLeft, top, 153, 17})};
}

} // namespace talvine::dialogs
