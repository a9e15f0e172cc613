#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class TBrimTaskManager;

// A task in a TBrimTaskManager. The base operations do nothing except Delete,
// which removes (and frees) the item.
class TBrimTaskItem
{
public:
    TBrimTaskItem() = default;
    virtual ~TBrimTaskItem() = default;
    TBrimTaskItem(const TBrimTaskItem &) = delete;
    TBrimTaskItem &operator=(const TBrimTaskItem &) = delete;

    TBrimTaskManager *Manager = nullptr;
    QString Name;
    QString Description;
    int State = 0;

    virtual void Init() { }
    virtual void Start() { }
    virtual void Stop() { }
    virtual void Pause() { }
    virtual void Resume() { }
    // Removes the item from its manager, which frees it: do not touch it afterwards.
    virtual void Delete();

    // Stores the state and always reports it, also when it did not change.
    void SetState(int NewState);
};

// Owns an ordered list of task items and reports their state changes.
class TBrimTaskManager
{
public:
    using TItemEvent = std::function<void(TBrimTaskManager *Sender, TBrimTaskItem &Item)>;
    using TNotifyEvent = std::function<void(TBrimTaskManager *Sender)>;

    TBrimTaskManager() = default;
    ~TBrimTaskManager();
    TBrimTaskManager(const TBrimTaskManager &) = delete;
    TBrimTaskManager &operator=(const TBrimTaskManager &) = delete;

    TItemEvent OnItemStateChange;
    // Every SetState, just before OnItemStateChange, for whoever keeps the tasks
    // on disk; OnItemStateChange stays free for the view. Its handler must not
    // free the item.
    TItemEvent OnItemChange;
    // After an item left the list or the list was cleared, and when NotifyListChange is
    // called (a new item has been filled in): the moments the task list is worth saving.
    TNotifyEvent OnListChange;

    template<class T> T *Add()
    {
        auto item = std::make_unique<T>();
        T *raw = item.get();
        append(std::move(item));
        return raw;
    }
    void Clear();
    int Count() const { return int(m_items.size()); }
    TBrimTaskItem *Items(int Index) const;
    int IndexOf(const TBrimTaskItem *Item) const;
    // Removes and frees the item; false when it is not in the list.
    bool Remove(TBrimTaskItem *Item);
    void NotifyListChange();

private:
    void append(std::unique_ptr<TBrimTaskItem> item);

    std::vector<std::unique_ptr<TBrimTaskItem>> m_items;
};
