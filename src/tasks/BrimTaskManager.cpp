#include "tasks/BrimTaskManager.h"

#include <algorithm>

void TBrimTaskItem::Delete()
{
    if (Manager)
        Manager->Remove(this);
}

void TBrimTaskItem::SetState(int NewState)
{
    State = NewState;
    // The keeper first: the view's handler may free the item.
    if (Manager && Manager->OnItemChange) {
        const auto keeper = Manager->OnItemChange;
        keeper(Manager, *this);
    }
    if (Manager && Manager->OnItemStateChange) {
        const auto handler = Manager->OnItemStateChange;
        handler(Manager, *this);
    }
}

TBrimTaskManager::~TBrimTaskManager()
{
    OnListChange = nullptr;
    OnItemChange = nullptr;
    OnItemStateChange = nullptr;
    Clear();
}

void TBrimTaskManager::append(std::unique_ptr<TBrimTaskItem> item)
{
    item->Init();
    item->Manager = this;
    m_items.push_back(std::move(item));
}

void TBrimTaskManager::Clear()
{
    // Items are freed after they left the list, so nothing can reach a half-freed list.
    std::vector<std::unique_ptr<TBrimTaskItem>> items;
    items.swap(m_items);
    items.clear();
    NotifyListChange();
}

TBrimTaskItem *TBrimTaskManager::Items(int Index) const
{
    if (Index < 0 || Index >= Count())
        return nullptr;
    return m_items[size_t(Index)].get();
}

int TBrimTaskManager::IndexOf(const TBrimTaskItem *Item) const
{
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].get() == Item)
            return int(i);
    return -1;
}

bool TBrimTaskManager::Remove(TBrimTaskItem *Item)
{
    const auto it
        = std::find_if(m_items.begin(), m_items.end(), [Item](const auto &p) { return p.get() == Item; });
    if (it == m_items.end())
        return false;
    std::unique_ptr<TBrimTaskItem> owned = std::move(*it);
    m_items.erase(it);
    owned.reset();
    NotifyListChange();
    return true;
}

void TBrimTaskManager::NotifyListChange()
{
    if (OnListChange) {
        const auto handler = OnListChange;
        handler(this);
    }
}
