// IP address control lands here
