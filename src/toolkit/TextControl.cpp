#include "toolkit/TextControl.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "platform/gfx/Backend.h"
#include "platform/gfx/Dispatcher.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/Text.h"
#include "platform/gfx/View.h"
#include "toolkit/BoundedText.h"
#include "toolkit/Window.h"

namespace
{
constexpr double kFontSize = 11;

bool IsContinuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

double Advance(std::string const& text)
{
    cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t* cr = cairo_create(scratch);
    gfx::SelectFont(cr, kFontSize);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    cairo_destroy(cr);
    cairo_surface_destroy(scratch);
    return extents.x_advance;
}
} // namespace

// The field's node: its drawing, its presses and its keys.
class EditField : public gfx::View, public gfx::ViewClient
{
public:
    explicit EditField(bool single) : singleLine(single) { SetClient(this); }

    std::string text;
    std::size_t caret = 0;
    std::size_t anchor = 0;
    bool singleLine;

    std::size_t SelectionStart() const { return std::min(caret, anchor); }
    std::size_t SelectionEnd() const { return std::max(caret, anchor); }
    bool Focused() const
    {
        gfx::Surface* s = GetSurface();
        return s && s->GetFocus() == this;
    }

    void Changed() { SetNeedsDisplay(); }

    std::size_t Previous(std::size_t at) const
    {
        if (at == 0) return 0;
        --at;
        while (at > 0 && IsContinuation(text[at]))
            --at;
        return at;
    }
    std::size_t Next(std::size_t at) const
    {
        if (at >= text.size()) return text.size();
        ++at;
        while (at < text.size() && IsContinuation(text[at]))
            ++at;
        return at;
    }

    void Replace(std::string const& typed)
    {
        std::string clean;
        for (char c : gfx::ToDisplayText(typed.c_str()))
        {
            if (c == '\r') c = '\n';
            if (c == '\n' && singleLine) break;
            if (static_cast<unsigned char>(c) < 0x20 && c != '\n') continue;
            clean += c;
        }
        std::size_t start = SelectionStart(), end = SelectionEnd();
        std::size_t room = kMax - (text.size() - (end - start));
        char bounded[kMax + 1];
        std::size_t n = CopyBoundedText(bounded, clean.c_str(), std::min(room, clean.size()));
        text.replace(start, end - start, bounded, n);
        caret = anchor = start + n;
        Changed();
    }

    void Move(std::size_t to, bool extend)
    {
        caret = to;
        if (!extend) anchor = caret;
        Changed();
    }

    std::size_t OffsetAt(int x) const
    {
        std::size_t best = 0;
        double bestDistance = 1e9;
        for (std::size_t at = 0;; at = Next(at))
        {
            double d = std::abs(2 + Advance(text.substr(0, at)) - x);
            if (d < bestDistance) bestDistance = d, best = at;
            if (at >= text.size()) break;
        }
        return best;
    }

    void Draw(cairo_t* cr) override
    {
        gfx::Rect f = Frame();
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_set_source_rgb(cr, 0.45, 0.45, 0.45);
        cairo_set_line_width(cr, 1);
        cairo_rectangle(cr, 0.5, 0.5, f.w - 1, f.h - 1);
        cairo_stroke(cr);
        double baseline = singleLine ? f.h / 2.0 + kFontSize / 2 - 1 : kFontSize + 2;
        if (SelectionStart() != SelectionEnd())
        {
            double x0 = 2 + Advance(text.substr(0, SelectionStart()));
            double x1 = 2 + Advance(text.substr(0, SelectionEnd()));
            cairo_set_source_rgb(cr, 0.6, 0.75, 1.0);
            cairo_rectangle(cr, x0, baseline - kFontSize, x1 - x0, kFontSize + 3);
            cairo_fill(cr);
        }
        cairo_set_source_rgb(cr, 0, 0, 0);
        gfx::SelectFont(cr, kFontSize);
        gfx::ShowText(cr, text.c_str(), 2, baseline);
        if (Focused())
        {
            double x = std::floor(2 + Advance(text.substr(0, caret))) + 0.5;
            cairo_move_to(cr, x, baseline - kFontSize);
            cairo_line_to(cr, x, baseline + 2);
            cairo_stroke(cr);
        }
    }

    void MouseDown(int x, int, unsigned, int, unsigned modifiers) override
    {
        std::weak_ptr<void const> life = Liveness();
        if (gfx::Surface* s = GetSurface()) s->SetFocus(this);
        Move(OffsetAt(x), (modifiers & gfx::kModShift) != 0);
        gfx::Point at;
        unsigned held = 0;
        for (;;)
        {
            gfx::Dispatcher::Track r = gfx::Dispatcher::TrackMouseLocation(*this, at, held);
            if (r == gfx::Dispatcher::Track::Gone || life.expired()) return;
            Move(OffsetAt(at.x), true);
            if (r == gfx::Dispatcher::Track::Released) return;
        }
    }

    bool KeyDown(unsigned key, char const* typed, unsigned modifiers) override
    {
        bool shift = (modifiers & gfx::kModShift) != 0;
        bool control = (modifiers & gfx::kModControl) != 0;
        gfx::Backend* backend = gfx::RunLoop::GetBackend();
        char letter = typed[0] && !typed[1] ? typed[0] : 0;
        if (control && letter >= 1 && letter <= 26) letter = static_cast<char>('a' + letter - 1);
        if (control && letter)
        {
            std::string selected = text.substr(SelectionStart(), SelectionEnd() - SelectionStart());
            switch (letter | 0x20)
            {
            case 'a':
                anchor = 0;
                Move(text.size(), true);
                return true;
            case 'c':
                if (backend && !selected.empty()) backend->SetClipboardText(selected);
                return true;
            case 'x':
                if (backend && !selected.empty()) backend->SetClipboardText(selected);
                Replace("");
                return true;
            case 'v':
                if (backend) Replace(backend->GetClipboardText());
                return true;
            default:
                return false;
            }
        }
        switch (key)
        {
        case gfx::kKeyBackspace:
            if (caret == anchor) anchor = Previous(caret);
            Replace("");
            return true;
        case gfx::kKeyDelete:
            if (caret == anchor) anchor = Next(caret);
            Replace("");
            return true;
        case gfx::kKeyLeft:
            Move(!shift && caret != anchor ? SelectionStart() : Previous(caret), shift);
            return true;
        case gfx::kKeyRight:
            Move(!shift && caret != anchor ? SelectionEnd() : Next(caret), shift);
            return true;
        case gfx::kKeyHome:
        case gfx::kKeyUp:
            Move(0, shift);
            return true;
        case gfx::kKeyEnd:
        case gfx::kKeyDown:
            Move(text.size(), shift);
            return true;
        case gfx::kKeyReturn:
            if (singleLine) return false;
            Replace("\n");
            return true;
        default:
            break;
        }
        if (!typed[0]) return false;
        Replace(typed);
        return true;
    }

    static constexpr std::size_t kMax = TextControl::kMaxText;
};

TextControl::~TextControl()
{
    Release();
}

void TextControl::Release()
{
    if (!control) return;
    EditField* field = control;
    control = nullptr;
    field->Retire();
    gfx::RunLoop::DeferRelease([field] { delete field; });
}

void TextControl::Create(Window* p, GRectangle const& r, bool singleLine, char const* text)
{
    parent = p;
    Release();
    control = new EditField(singleLine);
    control->SetFrame(gfx::Rect{r.x, r.y, r.width, r.height});
    SetText(text);
    if (parent && parent->GetView())
    {
        parent->GetView()->AddSubview(control);
        control->SetVisible(true);
    }
}

String TextControl::GetText() const
{
    return control ? String(control->text.c_str()) : String();
}

void TextControl::SetText(char const* text)
{
    if (!control) return;
    control->text.clear();
    control->caret = control->anchor = 0;
    control->Replace(text ? text : "");
}

void TextControl::GiveFocus()
{
    if (!control) return;
    if (gfx::Surface* s = control->GetSurface()) s->SetFocus(control);
}

bool TextControl::HasFocus() const
{
    return control && control->Focused();
}

long TextControl::GetSelectionStart() const
{
    return control ? static_cast<long>(control->SelectionStart()) : 0;
}

long TextControl::GetSelectionEnd() const
{
    return control ? static_cast<long>(control->SelectionEnd()) : 0;
}
