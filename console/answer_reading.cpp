// reading rules land here
