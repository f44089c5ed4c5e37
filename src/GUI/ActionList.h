#pragma once

#include <QAction>
#include <QObject>

#include <functional>
#include <vector>

class QAbstractButton;

// Actions whose enabled state is worked out again whenever the application has nothing else to do, as the
// pages' Apply, Save, Play and Stop buttons need. Each action has an update handler that sets its state; the
// handlers run when the main thread's event loop is about to wait, and on UpdateAll.
class TActionList : public QObject
{
    Q_OBJECT
public:
    using TUpdateHandler = std::function<void(QAction&)>;

    explicit TActionList(QObject* parent);

    // Adds an action owned by owner (the list when null), named and captioned, with both handlers; either
    // handler may be empty.
    QAction* CreateAction(const QString& name, const QString& caption, TUpdateHandler update,
                          std::function<void()> execute, QObject* owner = nullptr);
    // Forgets the action (it is freed with its owner).
    void Remove(QAction* action);
    int Count() const { return static_cast<int>(FEntries.size()); }
    QAction* At(int index) const { return FEntries.at(static_cast<size_t>(index)).Action; }

    // Runs every update handler now. A handler that raises an error disables its action; the error is
    // logged once per action, so a failing handler cannot flood the log at every idle moment.
    void UpdateAll();
    // No handler runs any more: the objects they look at are going away.
    void Stop();

private:
    struct TEntry
    {
        QAction* Action;
        TUpdateHandler Update;
        bool Failed = false;
    };
    std::vector<TEntry> FEntries;
    bool FUpdating = false;
    bool FStopped = false;
};

// The button follows the action: clicking it triggers the action, and it is enabled exactly when the action
// is. With takeCaption the button shows the action's caption; otherwise it keeps its own.
void LinkButton(QAbstractButton* button, QAction* action, bool takeCaption);
