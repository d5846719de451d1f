// The editor's lifetime against its instance: an editor open when the host closes the instance
// (or when the instance is deleted without a close) is closed and deleted while everything it
// points to still lives. Run under AddressSanitizer these catch any use of a dead member.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/Torvane.h"
#include "support/engine/HeadlessHost.h"
#include "support/engine/RecordingInstrumentEditor.h"
#include "vst/AEffEditor.h"

namespace
{

struct Journal
{
    std::vector<std::string> events;
};

// The instrument, telling the journal when it starts to go.
class JournaledTorvane : public Torvane
{
public:
    explicit JournaledTorvane(Journal& journal) : Torvane(nullptr), journal(journal) {}
    ~JournaledTorvane() override { journal.events.push_back("instrument destroyed"); }

private:
    Journal& journal;
};

// An editor root as the toolkit builds it: attached to its instrument while it lives, detached
// by its destructor (which takes the instrument's mutex and reads its state).
class EditorRoot : public RecordingInstrumentEditor
{
public:
    EditorRoot(Torvane& instrument, Journal& journal) : instrument(instrument), journal(journal)
    {
        instrument.SetGUI(this);
    }
    ~EditorRoot() override
    {
        journal.events.push_back("root detached");
        instrument.ProcessGUINotifications();
        instrument.SetGUI(nullptr);
        (void)instrument.GetCurrentVoice();
    }

private:
    Torvane& instrument;
    Journal& journal;
};

// The loader the host sees: open builds the root, close deletes it.
class Loader : public AEffEditor
{
public:
    Loader(Torvane& instrument, Journal& journal)
        : AEffEditor(&instrument), instrument(instrument), journal(journal)
    {
    }
    bool open(void*) override
    {
        root = std::make_unique<EditorRoot>(instrument, journal);
        return true;
    }
    void close() override { root.reset(); }
    // As the editor host's idle: the turn, then the plug-in's requests.
    void idle() override { instrument.ProcessGUINotifications(); }
    ~Loader() override { journal.events.push_back("loader deleted"); }

    std::unique_ptr<EditorRoot> root;

private:
    Torvane& instrument;
    Journal& journal;
};

// Builds an instance with an open editor that has requests waiting.
AEffect* OpenWithEditor(Journal& journal, Torvane* instrument)
{
    instrument->setEditor(new Loader(*instrument, journal));
    AEffect* effect = instrument->getAeffect();
    EXPECT_EQ(effect->dispatcher(effect, effEditOpen, 0, 0, nullptr, 0.0f), 1);
    EXPECT_TRUE(instrument->HasGUI());
    instrument->SetEditTime(500.0f);
    instrument->SetCurrentVoice(1);
    return effect;
}

} // namespace

TEST(EditorLifetime, EffCloseClosesAnOpenEditorBeforeTheInstanceGoes)
{
    TemporaryDataHome home;
    Journal journal;
    AEffect* effect = OpenWithEditor(journal, new JournaledTorvane(journal));
    EXPECT_EQ(effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(journal.events,
              (std::vector<std::string>{"root detached", "loader deleted", "instrument destroyed"}));
}

TEST(EditorLifetime, DeletingTheInstanceClosesAnOpenEditorFirst)
{
    TemporaryDataHome home;
    Journal journal;
    AEffect* effect = OpenWithEditor(journal, new Torvane(nullptr));
    // No close from the host: the instrument's destructor closes the editor before its members
    // go (the root's detaching uses the mutex, the queue and the instrument's state).
    delete static_cast<Torvane*>(AudioEffect::fromAEffect(effect));
    EXPECT_EQ(journal.events, (std::vector<std::string>{"root detached", "loader deleted"}));
}

TEST(EditorLifetime, EditorClosedAndReopenedGetsOnlyItsOwnRequests)
{
    TemporaryDataHome home;
    Journal journal;
    AEffect* effect = OpenWithEditor(journal, new Torvane(nullptr));
    auto* instrument = static_cast<Torvane*>(AudioEffect::fromAEffect(effect));
    auto* loader = static_cast<Loader*>(instrument->getEditor());
    effect->dispatcher(effect, effEditClose, 0, 0, nullptr, 0.0f);
    EXPECT_FALSE(instrument->HasGUI());
    instrument->SetEditTime(100.0f); // nobody listens: not kept
    effect->dispatcher(effect, effEditOpen, 0, 0, nullptr, 0.0f);
    instrument->ProcessGUINotifications();
    EXPECT_TRUE(loader->root->Calls().empty());
    instrument->SetPatchName("Lead");
    // The host's editor idle drains.
    effect->dispatcher(effect, effEditIdle, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(loader->root->Calls(),
              (std::vector<std::string>{"UpdatePatchName", "NotificationQueueChanged"}));
    effect->dispatcher(effect, effClose, 0, 0, nullptr, 0.0f);
}
