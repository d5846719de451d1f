#include "toolkit/Alerts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/gfx/Backend.h"
#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/Text.h"
#include "toolkit/CustomButton.h"
#include "toolkit/Frame.h"
#include "toolkit/GraphicsContext.h"
#include "toolkit/MacWindowManager.h"
#include "toolkit/Responders.h"

namespace
{
constexpr long kAlertWidth = 380;
constexpr long kMinAlertWidth = 200;
constexpr double kTextSize = 12;
constexpr double kCaptionSize = 10;
constexpr long kLine = 16;
constexpr long kMargin = 16;

// Keeps the first `keep` lines; when lines were dropped the last one kept ends with an ellipsis.
void CutWithEllipsis(std::vector<std::string>& lines, std::size_t keep, double width,
                     gfx::MeasureFunction const& measure)
{
    if (lines.size() <= keep) return;
    lines.resize(keep);
    if (keep == 0) return;
    // Room for the ellipsis even when the line fits exactly.
    static char const kEllipsis[] = "\xE2\x80\xA6";
    std::string& last = lines.back();
    std::string fitted = gfx::FitWithEllipsis(last + kEllipsis, width, measure);
    last = std::move(fitted);
}

class AlertFrame : public Frame, public ButtonListener
{
public:
    AlertFrame(char const* text, char const* caption, bool question) : question(question)
    {
        gfx::Surface* owner = MacWindowManager::OwnerSurface();
        gfx::Backend* backend = owner ? &owner->GetBackend() : gfx::RunLoop::GetBackend();
        gfx::Rect const screen = backend ? backend->ScreenBounds() : gfx::Rect{0, 0, 1920, 1080};
        // The alert fits the screen: at most as wide, and as high, with its buttons inside.
        long const w = std::max(kMinAlertWidth, std::min<long>(kAlertWidth, screen.w));
        long const fixed = kMargin + 8 + 24 + kMargin;
        std::size_t const room = static_cast<std::size_t>(std::max(2L, (screen.h - fixed) / kLine));
        double const lineWidth = static_cast<double>(w - 2 * kMargin);
        gfx::TextMeasure textMeasure(kTextSize);
        gfx::TextMeasure captionMeasure(kCaptionSize);
        gfx::MeasureFunction const measureText = [&](std::string_view p) { return textMeasure(p); };
        gfx::MeasureFunction const measureCaption = [&](std::string_view p) { return captionMeasure(p); };
        textLines = WrapText(text, lineWidth, measureText, room);
        captionLines = WrapText(caption, lineWidth, measureCaption, room);
        // Too many lines: the caption keeps up to a quarter of the room, the text the rest, and
        // each part that is cut ends with an ellipsis.
        if (textLines.size() + captionLines.size() > room)
        {
            std::size_t captionKeep = std::min(captionLines.size(), room / 4);
            std::size_t const textKeep = std::min(textLines.size(), room - captionKeep);
            captionKeep = std::min(captionLines.size(), room - textKeep);
            CutWithEllipsis(textLines, textKeep, lineWidth, measureText);
            CutWithEllipsis(captionLines, captionKeep, lineWidth, measureCaption);
        }
        long h = fixed + kLine * static_cast<long>(textLines.size() + captionLines.size());
        long px = screen.x + (screen.w - w) / 2, py = screen.y + (screen.h - h) / 2;
        if (owner)
        {
            gfx::Point o = owner->ScreenOrigin();
            px = o.x + (owner->Width() - w) / 2;
            py = o.y + (owner->Height() - h) / 2;
        }
        px = std::clamp<long>(px, screen.x, std::max<long>(screen.x, screen.x + screen.w - w));
        py = std::clamp<long>(py, screen.y, std::max<long>(screen.y, screen.y + screen.h - h));
        CreateFrame(nullptr, px, py, w, h);
        long by = h - kMargin - 22;
        if (question)
        {
            // Every question asked is about a destructive step (reset, delete): the safe answer
            // is the default.
            yes.Create(this, 1, this, w - kMargin - 150, by, 70, 22, "Yes", CaptionButton::PlainFace());
            no.Create(this, 2, this, w - kMargin - 70, by, 70, 22, "No", CaptionButton::DefaultFace());
        }
        else
            yes.Create(this, 1, this, w - kMargin - 70, by, 70, 22, "OK", CaptionButton::DefaultFace());
    }

    int Run()
    {
        RunModal();
        return answer;
    }

    void ButtonPressed(int id) override { Answer(id); }

protected:
    // Return is the default button ("No", or the note's "OK"): a stray Return never deletes or
    // resets anything. Escape is the cancel button ("No", or the note's "OK").
    bool DefaultByKey() override
    {
        Answer(question ? 2 : 1);
        return true;
    }
    bool CancelByKey() override
    {
        Answer(question ? 2 : 1);
        return true;
    }

public:
    void Repaint(GraphicsContext& gc) override
    {
        FillBackground(gc, Colour(44, 44, 50, 255));
        gc.SetPenColour(110, 110, 120, 1, 255);
        gc.DrawRectOutline(0, 0, width - 1, height - 1);
        long at = kMargin - 8 + 4;
        gc.SetPenColour(255, 255, 255, 1, 255);
        gc.SetFont(static_cast<int>(kTextSize), nullptr, true, false);
        for (std::string const& line : textLines)
        {
            gc.DrawString(line.c_str(), kMargin - 2, at);
            at += kLine;
        }
        gc.SetPenColour(190, 190, 200, 1, 255);
        gc.SetFont(static_cast<int>(kCaptionSize), nullptr, false, false);
        for (std::string const& line : captionLines)
        {
            gc.DrawString(line.c_str(), kMargin - 2, at);
            at += kLine;
        }
    }

private:
    void Answer(int id)
    {
        answer = id;
        QuitModal();
    }

    bool question;
    int answer = 0;
    std::vector<std::string> textLines;
    std::vector<std::string> captionLines;
    CaptionButton yes;
    CaptionButton no;
};

// Only the thread admitted to the loop looks at its surfaces or shows anything there.
bool CanShowAlerts()
{
    return gfx::RunLoop::IsBound() && gfx::RunLoop::Admitted() && gfx::RunLoop::GetBackend() &&
           !gfx::Surface::All().empty();
}

// Outside every handler (a host's call, say) with the editors on strands, an alert would hold
// the host's call: the editor whose strand it waits on instead, else null (it may wait here).
gfx::Surface const* StrandToWaitOn()
{
    if (gfx::RunLoop::OnStrand()) return nullptr;
    gfx::Surface const* editor = gfx::RunLoop::EditorOf(MacWindowManager::OwnerSurface());
    return gfx::RunLoop::HasStrand(editor) ? editor : nullptr;
}

class ToolkitAlerts : public MessageSink
{
    static std::optional<bool> Responded(char const* text, char const* caption)
    {
        if (!gfx::RunLoop::IsBound() || !gfx::RunLoop::Admitted()) return std::nullopt;
        std::optional<bool> answer = Responders::TakeAlert();
        if (answer) Responders::AnsweredAlerts().push_back(std::string(caption) + ": " + text);
        return answer;
    }

public:
    void Show(char const* text, char const* caption) override
    {
        if (Responded(text, caption)) return;
        // From a thread outside the loop (a host's call that is no editor's, a damaged chunk's
        // note, while another thread idles the editors): the note waits for the loop's next turn.
        if (gfx::RunLoop::IsBound() && !gfx::RunLoop::Admitted())
        {
            gfx::RunLoop::Post([text = std::string(text), caption = std::string(caption)]
                               { MessagePopup(text.c_str(), caption.c_str()); });
            return;
        }
        if (!CanShowAlerts())
        {
            std::fprintf(stderr, "[message] %s: %s\n", caption, text);
            return;
        }
        // The call goes on while the note waits for the user.
        if (gfx::Surface const* editor = StrandToWaitOn())
        {
            gfx::RunLoop::RunOnEditor(editor,
                                      [text = std::string(text), caption = std::string(caption)]
                                      {
                                          AlertFrame alert(text.c_str(), caption.c_str(), false);
                                          alert.Run();
                                      });
            return;
        }
        AlertFrame alert(text, caption, false);
        alert.Run();
    }

    bool AskYesNo(char const* text, char const* caption) override
    {
        if (auto answer = Responded(text, caption)) return *answer;
        // A question needs its answer at once: it cannot wait on a strand.
        if (!CanShowAlerts() || StrandToWaitOn() != nullptr)
        {
            std::fprintf(stderr, "[question, answered No] %s: %s\n", caption, text);
            return false;
        }
        AlertFrame alert(text, caption, true);
        return alert.Run() == 1;
    }
};
} // namespace

void MessagePopup(GRectangle const& r, char const* title)
{
    char text[128];
    std::snprintf(text, sizeof text, "X: %i\t\tY: %i\nWidth: %i\tHeight: %i", static_cast<int>(r.x),
                  static_cast<int>(r.y), static_cast<int>(r.width), static_cast<int>(r.height));
    MessagePopup(text, title);
}

void InstallToolkitAlerts()
{
    SetMessageSink(std::make_shared<ToolkitAlerts>());
}

std::vector<std::string> WrapText(char const* text, double size, double width)
{
    gfx::TextMeasure measure(size);
    return WrapText(text, width, [&measure](std::string_view piece) { return measure(piece); });
}

std::vector<std::string> WrapText(char const* text, double width, gfx::MeasureFunction const& measure,
                                  std::size_t maxLines)
{
    std::vector<std::string> lines;
    std::string all = gfx::ToDisplayText(text ? text : "");
    for (char& c : all)
        if (c == '\t') c = ' ';
    // Every word is measured once, and a word too wide for a line once more by characters (each
    // kind of character once): a line's width is the sum of its parts.
    std::map<std::string, double, std::less<>> characters;
    auto characterAdvance = [&](std::string_view c)
    {
        auto found = characters.find(c);
        if (found == characters.end()) found = characters.emplace(std::string(c), measure(c)).first;
        return found->second;
    };
    auto full = [&] { return lines.size() > maxLines; };
    std::size_t start = 0;
    while (start <= all.size() && !full())
    {
        std::size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        std::string_view const paragraph = std::string_view(all).substr(start, end - start);
        std::string line;
        double lineWidth = 0.0;
        std::size_t at = 0;
        while (at < paragraph.size() && !full())
        {
            std::size_t const space = paragraph.find(' ', at);
            std::size_t const next = space == std::string_view::npos ? paragraph.size() : space + 1;
            std::string_view const word = paragraph.substr(at, next - at);
            at = next;
            double const advance = measure(word);
            if (!line.empty() && lineWidth + advance > width)
            {
                lines.push_back(std::move(line));
                line.clear();
                lineWidth = 0.0;
            }
            if (!line.empty() || advance <= width)
            {
                line += word;
                lineWidth += advance;
                continue;
            }
            // A word wider than the line is cut between characters; its last piece starts the
            // next line.
            std::size_t pieceStart = 0;
            for (std::size_t c = 0; c < word.size() && !full();)
            {
                std::size_t const n =
                    std::min(gfx::CharacterLength(static_cast<unsigned char>(word[c])), word.size() - c);
                double const w = characterAdvance(word.substr(c, n));
                if (c > pieceStart && lineWidth + w > width)
                {
                    lines.emplace_back(word.substr(pieceStart, c - pieceStart));
                    pieceStart = c;
                    lineWidth = 0.0;
                }
                lineWidth += w;
                c += n;
            }
            line = word.substr(pieceStart);
        }
        if (!full()) lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}
