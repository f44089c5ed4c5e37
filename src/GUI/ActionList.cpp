#include "ActionList.h"

#include "Log.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>

#include <algorithm>

TActionList::TActionList(QObject* parent) : QObject(parent)
{
    // Pages live on the main thread; its loop waiting means the application is idle.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TActionList::UpdateAll);
}

QAction* TActionList::CreateAction(const QString& name, const QString& caption, TUpdateHandler update,
                                   std::function<void()> execute, QObject* owner)
{
    auto* action = new QAction(caption, owner != nullptr ? owner : this);
    action->setObjectName(name);
    if (execute)
        connect(action, &QAction::triggered, action, [execute = std::move(execute)] { execute(); });
    // An action freed with its owner leaves the list.
    connect(action, &QObject::destroyed, this, [this, action] { Remove(action); });
    FEntries.push_back({action, std::move(update)});
    return action;
}

void TActionList::Remove(QAction* action)
{
    std::erase_if(FEntries, [action](const TEntry& entry) { return entry.Action == action; });
}

void TActionList::UpdateAll()
{
    if (FUpdating || FStopped)
        return;
    FUpdating = true;
    // A handler may add or remove actions (a page growing a tab); work on the list as it was.
    const std::vector<QAction*> actions = [this] {
        std::vector<QAction*> list;
        for (const TEntry& entry : FEntries)
            list.push_back(entry.Action);
        return list;
    }();
    for (QAction* action : actions) {
        auto entry = std::find_if(FEntries.begin(), FEntries.end(),
                                  [action](const TEntry& e) { return e.Action == action; });
        if (entry == FEntries.end() || !entry->Update)
            continue;
        try {
            entry->Update(*action);
        } catch (const std::exception& error) {
            action->setEnabled(false);
            if (!entry->Failed) {
                entry->Failed = true;
                const QObject* source = parent() != nullptr ? parent() : this;
                WriteLog(QString::fromLatin1(source->metaObject()->className()), 1,
                         QString::fromUtf8(error.what()));
            }
        }
    }
    FUpdating = false;
}

void TActionList::Stop()
{
    FStopped = true;
}

void LinkButton(QAbstractButton* button, QAction* action, bool takeCaption)
{
    auto follow = [button, action, takeCaption] {
        button->setEnabled(action->isEnabled());
        if (takeCaption)
            button->setText(action->text());
    };
    follow();
    QObject::connect(action, &QAction::changed, button, follow);
    QObject::connect(button, &QAbstractButton::clicked, action, [action] { action->trigger(); });
}
