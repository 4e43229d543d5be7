// platform / protocol helpers land here
