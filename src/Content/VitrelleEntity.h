#pragma once

#include <QString>

// Base of slides and vitrelles. Entities have no equality of their own: lookups compare ids or names.
class TVitrelleEntity
{
public:
    TVitrelleEntity(QString id, qint32 index) : Id(std::move(id)), Index(index) {}
    virtual ~TVitrelleEntity() = default;

    TVitrelleEntity(const TVitrelleEntity&) = delete;
    TVitrelleEntity& operator=(const TVitrelleEntity&) = delete;

    QString Id;
    // Position among the slide and nested-vitrelle children of the parent vitrelle; -1 for listed vitrelles.
    qint32 Index;
};
