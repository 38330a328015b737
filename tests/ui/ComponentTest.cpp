#include "ui/Component.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <typeinfo>
#include <vector>

namespace tarnwick {
namespace {

// Records destructions and notifications into a shared journal.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::string name, std::vector<std::string>& journal)
      : TComponent(owner), journal_(journal) {
    SetName(std::move(name));
  }
  ~Probe() override {
    BeginDestroy();
    journal_.push_back("free " + Name());
  }
  TComponent* watched = nullptr;
  int loadedCalls = 0;
  bool loadingSeenInLoaded = false;
  void Loaded() override {
    loadingSeenInLoaded = IsLoading();
    TComponent::Loaded();
    ++loadedCalls;
  }

 protected:
  void Notification(TComponent* c, Operation op) override {
    TComponent::Notification(c, op);
    journal_.push_back(Name() + (op == Operation::Insert ? " +" : " -") + (c ? c->Name() : "?"));
    if (op == Operation::Remove && c == watched) watched = nullptr;
  }

 private:
  std::vector<std::string>& journal_;
};

TEST(ComponentOwnership, OwnerFreesOwnedInReverseOrderOfCreation) {
  std::vector<std::string> journal;
  auto* owner = new Probe(nullptr, "owner", journal);
  new Probe(owner, "a", journal);
  new Probe(owner, "b", journal);
  new Probe(owner, "c", journal);
  ASSERT_EQ(owner->ComponentCount(), 3u);
  journal.clear();
  delete owner;
  std::vector<std::string> frees;
  for (const auto& line : journal)
    if (line.rfind("free ", 0) == 0) frees.push_back(line);
  EXPECT_EQ(frees, (std::vector<std::string>{"free c", "free b", "free a", "free owner"}));
}

TEST(ComponentOwnership, FreeingOneOwnedComponentRemovesItAndTellsTheOwner) {
  std::vector<std::string> journal;
  Probe owner(nullptr, "owner", journal);
  auto* a = new Probe(&owner, "a", journal);
  auto* b = new Probe(&owner, "b", journal);
  EXPECT_EQ(owner.FindComponent("a"), a);
  delete a;
  EXPECT_EQ(owner.ComponentCount(), 1u);
  EXPECT_EQ(owner.Components(0), b);
  EXPECT_EQ(owner.FindComponent("a"), nullptr);
  EXPECT_EQ(owner.FindComponent(""), nullptr);
  EXPECT_NE(std::find(journal.begin(), journal.end(), "owner -a"), journal.end());
  // Insertions are announced from the base constructor, before the name.
  EXPECT_EQ(std::count(journal.begin(), journal.end(), "owner +"), 2);
}

TEST(ComponentNotification, ListenerHearsWhenTheWatchedComponentGoes) {
  std::vector<std::string> journal;
  Probe listener(nullptr, "listener", journal);
  auto* target = new Probe(nullptr, "target", journal);
  listener.watched = target;
  listener.FreeNotification(target);
  delete target;
  EXPECT_EQ(listener.watched, nullptr);
  EXPECT_NE(std::find(journal.begin(), journal.end(), "listener -target"), journal.end());
}

TEST(ComponentNotification, LinkIsTwoWaySoAListenerThatGoesFirstIsNotCalledLater) {
  std::vector<std::string> journal;
  auto* listener = new Probe(nullptr, "listener", journal);
  Probe target(nullptr, "target", journal);
  listener->FreeNotification(&target);
  listener->FreeNotification(&target);  // twice: still one link
  delete listener;
  journal.clear();
  // Destroying target now must not reach the dead listener (ASan would
  // flag the use after free; the journal shows no call either).
  target.BeginDestroy();
  EXPECT_TRUE(journal.empty());
}

TEST(ComponentNotification, RemovedLinkIsNotNotified) {
  std::vector<std::string> journal;
  Probe listener(nullptr, "listener", journal);
  auto* target = new Probe(nullptr, "target", journal);
  listener.FreeNotification(target);
  listener.RemoveFreeNotification(target);
  journal.clear();
  delete target;
  EXPECT_EQ(journal, (std::vector<std::string>{"free target"}));
}

TEST(ComponentNotification, OwnedSiblingsHearWhenOneOfThemGoes) {
  std::vector<std::string> journal;
  Probe owner(nullptr, "owner", journal);
  auto* a = new Probe(&owner, "a", journal);
  auto* b = new Probe(&owner, "b", journal);
  b->watched = a;
  delete a;
  EXPECT_EQ(b->watched, nullptr);
}

TEST(ComponentState, DestroyingIsSetWhileOwnedComponentsAreFreed) {
  struct Child : TComponent {
    using TComponent::TComponent;
    ~Child() override { EXPECT_EQ(Owner(), nullptr); }
  };
  // The owner is detached before the child's destructor runs, and it is
  // marked as destroying while it frees its children.
  struct Owner : TComponent {
    using TComponent::TComponent;
    bool destroyingWhileFreeing = false;
    ~Owner() override {
      EXPECT_FALSE(IsDestroying());
      BeginDestroy();
      destroyingWhileFreeing = IsDestroying();
      EXPECT_TRUE(destroyingWhileFreeing);
      EXPECT_EQ(ComponentCount(), 0u);
    }
  };
  auto* owner = new Owner(nullptr);
  new Child(owner);
  delete owner;
}

TEST(ComponentState, LoadedClearsLoadingAndIsSeenWhileStillLoading) {
  std::vector<std::string> journal;
  Probe p(nullptr, "p", journal);
  EXPECT_FALSE(p.IsLoading());
  p.SetLoading();
  EXPECT_TRUE(p.IsLoading());
  EXPECT_EQ(p.ComponentState() & csLoading, csLoading);
  p.Loaded();
  EXPECT_TRUE(p.loadingSeenInLoaded);
  EXPECT_FALSE(p.IsLoading());
  EXPECT_EQ(p.loadedCalls, 1);
}

class TSample : public TComponent {
 public:
  using TComponent::TComponent;
};

TEST(ClassName, NamesTheDynamicClassWithoutNamespaces) {
  TSample sample(nullptr);
  TComponent plain(nullptr);
  TComponent& asBase = sample;
  EXPECT_EQ(asBase.ClassName(), "TSample");
  EXPECT_EQ(plain.ClassName(), "TComponent");
  EXPECT_EQ(ShortClassName(typeid(int).name()), "int");
  EXPECT_EQ(ShortClassName("not a mangled name"), "not a mangled name");
  EXPECT_EQ(ShortClassName(nullptr), "");
}

}  // namespace
}  // namespace tarnwick
