#include "descriptorserver.h"

void DescriptorServer::incomingConnection(qintptr socketDescriptor)
{
    emit accepted(socketDescriptor);
}
